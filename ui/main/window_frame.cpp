#include "ui/main/window_frame.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QKeySequence>
#include <QLibraryInfo>
#include <QLocale>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QTabWidget>
#include <QTranslator>
#include <QWidget>
#include <algorithm>
#include <charconv>

#include "model/settings.h"

namespace vir05 {

namespace {

// A frame the window system has not drawn yet: room for a title bar and thin borders.
constexpr QMargins kAssumedFrame(6, 32, 6, 6);

QMargins FrameOf(const QWidget& w) {
    const QRect outer = w.frameGeometry();
    const QRect inner = w.geometry();
    if (outer == inner) return kAssumedFrame;
    return QMargins(inner.left() - outer.left(), inner.top() - outer.top(),
                    outer.right() - inner.right(), outer.bottom() - inner.bottom());
}

QScreen* ScreenAt(const QPoint& p, QWidget* fallback) {
    if (QScreen* s = QGuiApplication::screenAt(p)) return s;
    if (fallback && fallback->screen()) return fallback->screen();
    return QGuiApplication::primaryScreen();
}

std::string Read(const std::string& path, const std::string& key) {
    IniFile ini;
    ini.Load(path);
    return ini.ReadString(kSettingsSection, key, "");
}

}  // namespace

QTranslator* InstallToolkitTranslations(QApplication& app) {
    auto* translator = new QTranslator(&app);
    const QString dir = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    if (!translator->load(QLocale(QLocale::Russian, QLocale::Russia), "qtbase", "_", dir)) {
        delete translator;
        return nullptr;
    }
    QCoreApplication::installTranslator(translator);
    return translator;
}

QRect FitOnScreen(QSize wanted, std::optional<QPoint> place, QMargins frame, QRect available,
                  QRect centreOn) {
    const int maxW = std::max(1, available.width() - frame.left() - frame.right());
    const int maxH = std::max(1, available.height() - frame.top() - frame.bottom());
    const QSize size(std::clamp(wanted.width(), 1, maxW), std::clamp(wanted.height(), 1, maxH));
    QPoint at;
    if (place) {
        at = *place;
    } else {
        QRect centred(QPoint(), size);
        centred.moveCenter((centreOn.isEmpty() ? available : centreOn).center());
        at = centred.topLeft();
    }
    // The whole frame inside the available area, the title bar first of all.
    const int minX = available.left() + frame.left();
    const int minY = available.top() + frame.top();
    const int maxX = available.right() + 1 - frame.right() - size.width();
    const int maxY = available.bottom() + 1 - frame.bottom() - size.height();
    at.setX(std::clamp(at.x(), minX, std::max(minX, maxX)));
    at.setY(std::clamp(at.y(), minY, std::max(minY, maxY)));
    return QRect(at, size);
}

std::optional<QRect> ParseGeometry(const std::string& text) {
    int v[4] = {};
    const char* p = text.data();
    const char* end = text.data() + text.size();
    for (int i = 0; i < 4; ++i) {
        const auto [next, ec] = std::from_chars(p, end, v[i]);
        if (ec != std::errc()) return std::nullopt;
        p = next;
        if (i < 3) {
            if (p == end || *p != ',') return std::nullopt;
            ++p;
        }
    }
    if (p != end || v[2] < 50 || v[3] < 50) return std::nullopt;
    return QRect(v[0], v[1], v[2], v[3]);
}

std::string GeometryText(const QRect& r) {
    return std::to_string(r.x()) + "," + std::to_string(r.y()) + "," + std::to_string(r.width()) +
           "," + std::to_string(r.height());
}

WindowPlace::WindowPlace(QWidget* window, std::string key, std::string settingsPath,
                         std::function<QRect()> defaultPlace)
    : QObject(window),
      window_(window),
      key_(std::move(key)),
      path_(std::move(settingsPath)),
      defaultPlace_(std::move(defaultPlace)) {
    if (window_) window_->installEventFilter(this);
}

QRect WindowPlace::FirstGeometry() const {
    if (!window_) return {};
    const std::optional<QRect> saved = ParseGeometry(Read(path_, key_ + "Geometry"));
    const QRect around = !saved && defaultPlace_ ? defaultPlace_() : QRect();
    const QPoint probe = saved              ? saved->center()
                         : around.isEmpty() ? window_->geometry().center()
                                            : around.center();
    QScreen* screen = ScreenAt(
        probe, window_->parentWidget() ? window_->parentWidget()->window() : window_.data());
    const QRect available = screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
    if (saved) return FitOnScreen(saved->size(), saved->topLeft(), FrameOf(*window_), available);
    return FitOnScreen(window_->size(), std::nullopt, FrameOf(*window_), available, around);
}

void WindowPlace::Place() {
    if (!window_) return;
    window_->setGeometry(FirstGeometry());
    window_->setProperty(kPlacedProperty, true);
    if (Read(path_, key_ + "Maximized") == "1") window_->setWindowState(Qt::WindowMaximized);
}

void WindowPlace::Store() const {
    if (!window_) return;
    IniFile ini;
    ini.Load(path_);
    const bool maximized = window_->isMaximized();
    ini.WriteString(kSettingsSection, key_ + "Geometry",
                    GeometryText(maximized ? window_->normalGeometry() : window_->geometry()));
    ini.WriteString(kSettingsSection, key_ + "Maximized", maximized ? "1" : "0");
    ini.Save(path_);
}

bool WindowPlace::eventFilter(QObject* watched, QEvent* event) {
    if (watched == window_ && window_->isWindow()) {
        if (event->type() == QEvent::Show && !placed_) {
            placed_ = true;
            Place();
        } else if ((event->type() == QEvent::Hide || event->type() == QEvent::Close) && placed_) {
            Store();
        }
    }
    return QObject::eventFilter(watched, event);
}

void StoreLastPage(const QTabWidget& pages, const std::string& settingsPath) {
    const QWidget* page = pages.currentWidget();
    if (!page) return;
    IniFile ini;
    ini.Load(settingsPath);
    ini.WriteString(kSettingsSection, "FormCfgPage", page->objectName().toStdString());
    ini.Save(settingsPath);
}

bool RestoreLastPage(QTabWidget& pages, const std::string& settingsPath) {
    const QString name = QString::fromStdString(Read(settingsPath, "FormCfgPage"));
    if (name.isEmpty()) return false;
    for (int i = 0; i < pages.count(); ++i) {
        if (pages.widget(i)->objectName() != name || !pages.isTabVisible(i)) continue;
        pages.setCurrentIndex(i);
        return true;
    }
    return false;
}

void AddRussianHints(QWidget& root) {
    struct Hint {
        const char* name;
        const char* caption;  // the control's caption must be this (names repeat across forms)
        const char* hint;
    };
    static const Hint kHints[] = {
        {"ShowFull", "ShowFull",
         "Показать страницы, которые открывает введённый пин-код (сервисный код — все)"},
        {"Button1", "Clear", "Очистить график эмуляции"},
        {"LCntOffKp", "CntOffKp", "Счётчик автоподстройки Kp регулятора выбранного контура"},
        {"LCntOffTi", "CntOffTi", "Счётчик автоподстройки Ti регулятора выбранного контура"},
        {"LDivideKp", "DivideKp", "Делитель автоподстройки Kp регулятора выбранного контура"},
        {"LDivideTi", "DivideTi", "Делитель автоподстройки Ti регулятора выбранного контура"},
        {"Lcnt_bigKp", "cnt_bigKp",
         "Счётчик больших значений Kp при автоподстройке выбранного контура"},
        {"Lcnt_bigTi", "cnt_bigTi",
         "Счётчик больших значений Ti при автоподстройке выбранного контура"},
        {"LADelta", "ADelta", "Изменение кода АЦП с прошлого чтения"},
    };
    for (const Hint& h : kHints) {
        for (QWidget* w : root.findChildren<QWidget*>(h.name)) {
            const QVariant caption = w->property("text");
            if (caption.toString() != QString::fromUtf8(h.caption) || !w->toolTip().isEmpty())
                continue;
            w->setToolTip(QString::fromUtf8(h.hint));
        }
    }
}

void SetUpMenuKeys(QMainWindow& window, QAbstractButton* stop, QAbstractButton* print) {
    struct Item {
        const char* name;
        const char* text;  // the same text with its mnemonic
        QKeySequence key;
    };
    const Item items[] = {
        {"MenuFiles", "&Файлы", {}},
        {"MenuCommands", "&Команды", {}},
        {"N2", "&Подключение", QKeySequence(Qt::Key_F2)},
        {"AboutMnu", "&Версия", {}},
        {"Help", "&Справка", QKeySequence::HelpContents},
        {"Open", "&Открыть...", QKeySequence::Open},
        {"Save", "&Сохранить...", QKeySequence::Save},
        {"Excel1", "&Экспорт в Excel...", QKeySequence(Qt::CTRL | Qt::Key_E)},
        {"Excel2", "Экспорт в Excel &часовые...", {}},
        {"ReadTek", "&Прочитать текущие", QKeySequence(Qt::Key_F5)},
        {"ReadCycle", "&Текущие в цикле", QKeySequence(Qt::SHIFT | Qt::Key_F5)},
        {"ReadArch", "Прочитать &архив", QKeySequence(Qt::Key_F6)},
        {"WriteCfg", "&Записать конфигурацию", {}},
        {"ReWriteCfg", "П&ерезаписать конфигурацию", {}},
    };
    for (const Item& item : items) {
        if (auto* menu = window.findChild<QMenu*>(item.name)) {
            menu->setTitle(QString::fromUtf8(item.text));
            continue;
        }
        if (auto* action = window.findChild<QAction*>(item.name)) {
            action->setText(QString::fromUtf8(item.text));
            if (!item.key.isEmpty()) action->setShortcut(item.key);
        }
    }

    if (auto* files = window.findChild<QMenu*>("MenuFiles");
        files && !window.findChild<QAction*>("Exit")) {
        files->addSeparator();
        auto* exit = files->addAction(QStringLiteral("В&ыход"));
        exit->setObjectName("Exit");
        exit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
        exit->setMenuRole(QAction::QuitRole);
        QObject::connect(exit, &QAction::triggered, &window, &QWidget::close);
    }

    // Stop and print are buttons on the window; their keys work wherever the focus is.
    struct Button {
        QAbstractButton* button;
        QKeySequence key;
    };
    const Button buttons[] = {{stop, QKeySequence(Qt::Key_Escape)}, {print, QKeySequence::Print}};
    for (const Button& b : buttons) {
        QAbstractButton* button = b.button;
        if (!button) continue;
        auto* shortcut = new QAction(button);
        shortcut->setShortcut(b.key);
        shortcut->setShortcutContext(Qt::WindowShortcut);
        window.addAction(shortcut);
        // Printing works from every page, also when the chart's page is not the one shown.
        QObject::connect(shortcut, &QAction::triggered, button, [button, print] {
            if (button->isVisible() || button == print) button->click();
        });
        const QString keyText = b.key.toString(QKeySequence::NativeText);
        if (!button->toolTip().isEmpty())
            button->setToolTip(button->toolTip() + " (" + keyText + ")");
        else
            button->setToolTip(button->text() + " (" + keyText + ")");
    }
}

}  // namespace vir05
