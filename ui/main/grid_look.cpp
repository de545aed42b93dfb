#include "ui/main/grid_look.h"

#include <QApplication>
#include <QHeaderView>
#include <QPainter>
#include <QScrollBar>
#include <QTableView>

namespace vir05 {

namespace {

// A plain decimal number as the program writes them: "-7", "21.5", "0.07". Checked by hand:
// sorting asks this for every comparison.
bool IsNumber(const QString& text) {
    qsizetype i = text.startsWith('-') ? 1 : 0;
    qsizetype digits = 0, point = -1;
    for (; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c.isDigit() && c.unicode() < 128) {
            ++digits;
        } else if (c == '.' && point < 0 && digits > 0) {
            point = i;
        } else {
            return false;
        }
    }
    return digits > 0 && point != text.size() - 1;
}

// Keeps the frozen view's geometry and scrolling with the main view.
class FrozenColumns : public QObject {
  public:
    FrozenColumns(QTableView* view, QTableView* frozen, int columns)
        : QObject(view), view_(view), frozen_(frozen), columns_(columns) {
        view_->viewport()->installEventFilter(this);
        connect(view_->horizontalHeader(), &QHeaderView::sectionResized, this, [this] { Lay(); });
        connect(view_->verticalHeader(), &QHeaderView::sectionResized, this,
                [this](int row, int, int size) { frozen_->setRowHeight(row, size); });
        connect(frozen_->verticalScrollBar(), &QAbstractSlider::valueChanged,
                view_->verticalScrollBar(), &QAbstractSlider::setValue);
        connect(view_->verticalScrollBar(), &QAbstractSlider::valueChanged,
                frozen_->verticalScrollBar(), &QAbstractSlider::setValue);
        connect(view_->model(), &QAbstractItemModel::modelReset, this, [this] { Columns(); });
        Columns();
    }

    void Columns() {
        const int n = view_->model() ? view_->model()->columnCount() : 0;
        for (int c = 0; c < n; ++c) {
            frozen_->setColumnHidden(c, c >= columns_);
            if (c < columns_) frozen_->setColumnWidth(c, view_->columnWidth(c));
        }
        frozen_->verticalHeader()->setDefaultSectionSize(
            view_->verticalHeader()->defaultSectionSize());
        Lay();
    }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Resize) Lay();
        return QObject::eventFilter(watched, event);
    }

  private:
    void Lay() {
        int width = 0;
        for (int c = 0; c < columns_; ++c) {
            frozen_->setColumnWidth(c, view_->columnWidth(c));
            width += view_->columnWidth(c);
        }
        frozen_->setGeometry(view_->verticalHeader()->width() + view_->frameWidth(),
                             view_->frameWidth(), width,
                             view_->viewport()->height() + view_->horizontalHeader()->height());
    }

    QTableView* view_;
    QTableView* frozen_;
    int columns_;
};

}  // namespace

void DecimalDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                            const QModelIndex& index) const {
    const QString text = index.data(Qt::DisplayRole).toString();
    if (!IsNumber(text)) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    // The background and selection as usual, then the number by hand.
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    opt.text.clear();
    const QWidget* widget = opt.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);

    const QFontMetrics fm(opt.font);
    const qsizetype point = text.indexOf('.');
    const QString whole = point < 0 ? text : text.left(point);
    const QString fraction = point < 0 ? QString() : text.mid(point);
    // Room for one decimal after the point: the archive's values have at most one.
    const int fractionRoom = fm.horizontalAdvance(QStringLiteral(".0"));
    const QRect r = opt.rect.adjusted(4, 0, -4, 0);
    const int pointX = r.right() - fractionRoom;
    painter->save();
    painter->setPen(opt.palette.color(opt.state & QStyle::State_Selected ? QPalette::HighlightedText
                                                                         : QPalette::Text));
    painter->setFont(opt.font);
    painter->drawText(QRect(r.left(), r.top(), pointX - r.left() + 1, r.height()),
                      Qt::AlignRight | Qt::AlignVCenter, whole);
    if (!fraction.isEmpty())
        painter->drawText(QRect(pointX + 1, r.top(), r.right() - pointX, r.height()),
                          Qt::AlignLeft | Qt::AlignVCenter, fraction);
    painter->restore();
}

QTableView* FreezeLeadingColumns(QTableView* view, int columns) {
    auto* frozen = new QTableView(view);
    frozen->setObjectName(view->objectName() + QStringLiteral("Frozen"));
    frozen->setModel(view->model());
    frozen->setSelectionModel(view->selectionModel());
    frozen->setFocusPolicy(Qt::NoFocus);
    frozen->verticalHeader()->hide();
    frozen->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    frozen->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    frozen->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    frozen->setVerticalScrollMode(view->verticalScrollMode());
    frozen->setWordWrap(view->wordWrap());
    frozen->setSelectionBehavior(view->selectionBehavior());
    frozen->setSelectionMode(view->selectionMode());
    frozen->setStyleSheet(QStringLiteral("QTableView { border: none; }"));
    frozen->setItemDelegate(view->itemDelegate());
    view->viewport()->stackUnder(frozen);
    new FrozenColumns(view, frozen, columns);
    frozen->show();
    return frozen;
}

void HideEmptyColumns(QTableView* view, int first) {
    const QAbstractItemModel* m = view->model();
    if (!m) return;
    const int rows = m->rowCount();
    for (int c = first; c < m->columnCount(); ++c) {
        bool any = false;
        for (int r = 0; r < rows && !any; ++r)
            any = !m->data(m->index(r, c)).toString().isEmpty();
        view->setColumnHidden(c, !any && rows > 0);
    }
}

QVariant EventSortModel::headerData(int section, Qt::Orientation orientation, int role) const {
    const QVariant given = QSortFilterProxyModel::headerData(section, orientation, role);
    if (orientation != Qt::Horizontal) return given;
    if (role == Qt::DisplayRole && given.toString().isEmpty()) {
        switch (section) {
            case 3:
                return QStringLiteral("Событие");
            default:
                return QStringLiteral("—");
        }
    }
    if (role == Qt::ToolTipRole) {
        switch (section) {
            case 0:
                return QStringLiteral(
                    "Номер записи в журнале прибора; по нему — порядок записей "
                    "в памяти прибора");
            case 1:
                return QStringLiteral("Время события по часам прибора");
            case 2:
                return QStringLiteral("Код параметра события");
            case 3:
                return QStringLiteral("Что произошло");
            default:
                break;
        }
    }
    return given;
}

qint64 EventSortModel::TimeKey(const QString& text) {
    // Up to six runs of digits: day, month, year, then hour, minute, second; "." between the
    // date's, ":" between the time's, blanks between date and time. By hand, as IsNumber.
    qint64 part[6] = {};
    int parts = 0;
    int digits = 0;
    const QString t = text.trimmed();
    for (qsizetype i = 0; i <= t.size(); ++i) {
        const QChar c = i < t.size() ? t[i] : QChar(' ');
        if (c.isDigit() && c.unicode() < 128) {
            if (parts >= 6 || ++digits > 4) return -1;
            part[parts] = part[parts] * 10 + (c.unicode() - '0');
            continue;
        }
        if (digits == 0) {
            if (c == ' ' && parts == 3) continue;  // more blanks between date and time
            return -1;
        }
        const bool fits = (parts < 2 && c == '.') || (parts == 2 && c == ' ') ||
                          ((parts == 3 || parts == 4) && c == ':') || (parts == 5 && c == ' ') ||
                          (i == t.size());
        if (!fits) return -1;
        ++parts;
        digits = 0;
    }
    if (parts != 3 && parts != 5 && parts != 6) return -1;
    return ((((part[2] * 100 + part[1]) * 100 + part[0]) * 100 + part[3]) * 100 + part[4]) * 100 +
           part[5];
}

bool EventSortModel::lessThan(const QModelIndex& left, const QModelIndex& right) const {
    const QString a = left.data().toString();
    const QString b = right.data().toString();
    const qint64 ta = TimeKey(a), tb = TimeKey(b);
    if (ta >= 0 && tb >= 0) {
        if (ta != tb) return ta < tb;
    } else if (IsNumber(a) && IsNumber(b)) {
        if (a.toDouble() != b.toDouble()) return a.toDouble() < b.toDouble();
    } else if (a != b) {
        return QString::localeAwareCompare(a, b) < 0;
    }
    // Equal keys keep the order of the controller's slots.
    return left.row() < right.row();
}

}  // namespace vir05
