#include "ui/main/binder.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QHash>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QSpinBox>
#include <QStringList>
#include <QWidget>
#include <QtGlobal>
#include <algorithm>
#include <cmath>
#include <set>

namespace vir05 {

namespace {

QString ToQt(const std::string& text) {
    return QString::fromStdString(text);
}

std::string FromQt(const QString& text) {
    return text.toStdString();
}

// Every widget below `root` (root included) by object name. The toolkit's inner widgets and
// unnamed ones are left out; with two widgets of one name the first in tree order wins.
QHash<QString, QWidget*> WidgetsByName(QWidget* root) {
    QHash<QString, QWidget*> byName;
    if (root == nullptr) return byName;
    auto add = [&byName](QWidget* w) {
        const QString name = w->objectName();
        if (name.isEmpty() || name.startsWith(QLatin1String("qt_"))) return;
        if (!byName.contains(name)) byName.insert(name, w);
    };
    add(root);
    for (QWidget* w : root->findChildren<QWidget*>())
        add(w);
    return byName;
}

void ReportMissing(const std::string& name) {
    static std::set<std::string> reported;
    if (reported.insert(name).second) qWarning("Window control not found: %s", name.c_str());
}

// The spin boxes keep their own ranges; a value outside them is clamped by the box itself. A
// value that is not a number (or beyond the range of an int for whole fields) must not reach
// the toolkit's conversions, so it shows as the box's minimum.
void SetSpin(QSpinBox* box, double number) {
    if (std::isnan(number)) {
        box->setValue(box->minimum());
        return;
    }
    const double clamped = std::clamp(number, double(box->minimum()), double(box->maximum()));
    box->setValue(static_cast<int>(std::lround(clamped)));
}

void SetSpin(QDoubleSpinBox* box, double number) {
    box->setValue(std::isnan(number) ? box->minimum() : number);
}

QStringList ItemsOf(const QComboBox* box) {
    QStringList items;
    items.reserve(box->count());
    for (int i = 0; i < box->count(); ++i)
        items << box->itemText(i);
    return items;
}

void SetCombo(QComboBox* box, const ControlValue& value) {
    if (!value.items.empty()) {
        QStringList items;
        items.reserve(static_cast<qsizetype>(value.items.size()));
        for (const std::string& item : value.items)
            items << ToQt(item);
        if (items != ItemsOf(box)) {
            box->clear();
            box->addItems(items);
        }
    }
    const int index = value.index >= 0 && value.index < box->count() ? value.index : -1;
    box->setCurrentIndex(index);
    if (box->isEditable()) box->setEditText(ToQt(value.text));
}

// Sets the member of `value` that belongs to the widget's type. Returns false for a type the
// binder does not know (only the visibility is applied then).
bool ApplyTo(QWidget* w, const ControlValue& value) {
    if (auto* spin = qobject_cast<QSpinBox*>(w)) {
        SetSpin(spin, value.number);
    } else if (auto* dspin = qobject_cast<QDoubleSpinBox*>(w)) {
        SetSpin(dspin, value.number);
    } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
        SetCombo(combo, value);
    } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
        if (button->isCheckable())
            button->setChecked(value.checked);
        else
            button->setText(ToQt(value.text));
    } else if (auto* label = qobject_cast<QLabel*>(w)) {
        label->setText(ToQt(value.text));
    } else if (auto* edit = qobject_cast<QLineEdit*>(w)) {
        edit->setText(ToQt(value.text));
    } else if (auto* memo = qobject_cast<QPlainTextEdit*>(w)) {
        memo->setPlainText(ToQt(value.text));
    } else {
        return false;
    }
    return true;
}

bool ReadFrom(const QWidget* w, ControlValue& value) {
    value.visible = !w->isHidden();
    if (auto* spin = qobject_cast<const QSpinBox*>(w)) {
        value.number = spin->value();
    } else if (auto* dspin = qobject_cast<const QDoubleSpinBox*>(w)) {
        value.number = dspin->value();
    } else if (auto* combo = qobject_cast<const QComboBox*>(w)) {
        value.index = combo->currentIndex();
        value.text = FromQt(combo->currentText());
    } else if (auto* button = qobject_cast<const QAbstractButton*>(w)) {
        if (button->isCheckable())
            value.checked = button->isChecked();
        else
            value.text = FromQt(button->text());
    } else if (auto* label = qobject_cast<const QLabel*>(w)) {
        value.text = FromQt(label->text());
    } else if (auto* edit = qobject_cast<const QLineEdit*>(w)) {
        value.text = FromQt(edit->text());
    } else if (auto* memo = qobject_cast<const QPlainTextEdit*>(w)) {
        value.text = FromQt(memo->toPlainText());
    } else {
        return false;
    }
    return true;
}

}  // namespace

std::vector<std::string> ApplyControlState(QWidget* root, const ControlState& state) {
    const QHash<QString, QWidget*> byName = WidgetsByName(root);
    std::vector<std::string> missing;
    for (const auto& [name, value] : state) {
        QWidget* w = byName.value(ToQt(name), nullptr);
        if (w == nullptr) {
            ReportMissing(name);
            missing.push_back(name);
            continue;
        }
        ApplyTo(w, value);
        w->setVisible(value.visible);
    }
    return missing;
}

ControlState ReadControlState(QWidget* root, const std::vector<std::string>& names) {
    const QHash<QString, QWidget*> byName = WidgetsByName(root);
    ControlState state;
    for (const std::string& name : names) {
        const QWidget* w = byName.value(ToQt(name), nullptr);
        if (w == nullptr) {
            ReportMissing(name);
            continue;
        }
        ControlValue value;
        ReadFrom(w, value);
        state.insert_or_assign(name, std::move(value));
    }
    return state;
}

ControlState ReadControlState(QWidget* root) {
    const QHash<QString, QWidget*> byName = WidgetsByName(root);
    ControlState state;
    for (auto it = byName.cbegin(); it != byName.cend(); ++it) {
        ControlValue value;
        if (ReadFrom(it.value(), value)) state.insert_or_assign(FromQt(it.key()), std::move(value));
    }
    return state;
}

}  // namespace vir05
