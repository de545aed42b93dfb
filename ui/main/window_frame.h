// What makes the windows behave as desktop windows: they open inside the screen, come back where
// the user left them, speak the toolkit's Russian, and the main menu has its mnemonics and keys.
//
// Places are kept in the settings file, section "Setting", one key per window:
//     FormCfgGeometry=x,y,width,height    (the normal geometry, without the frame)
//     FormCfgMaximized=1
//     FormCfgPage=TabSheet9               (the main window's last page, by object name)
// A missing or unreadable key leaves the window where it opens by default.
#pragma once

#include <QMargins>
#include <QObject>
#include <QPointer>
#include <QRect>
#include <functional>
#include <optional>
#include <string>

class QAbstractButton;
class QApplication;
class QMainWindow;
class QTabWidget;
class QTranslator;
class QWidget;

namespace vir05 {

// Set on a window that WindowPlace has put in its place, so that the window's own first placing
// leaves it there.
inline constexpr const char* kPlacedProperty = "vir05Placed";

// Loads the toolkit's own Russian texts (message box buttons, file and print dialogs). None
// (null) when the translation is not installed; the program then runs with the toolkit's English.
QTranslator* InstallToolkitTranslations(QApplication& app);

// The geometry (without frame) for a window that wants `wanted`, so that its frame (`frame`
// around it) lies inside `available`: the size is cut to what fits, the place moved inside. Without
// a place of its own (`wanted` has no position) the window is centred on `centreOn`, or on the
// available area when `centreOn` is empty.
QRect FitOnScreen(QSize wanted, std::optional<QPoint> place, QMargins frame, QRect available,
                  QRect centreOn = QRect());

// "x,y,w,h" and back; nullopt for anything else or a size below 50 x 50.
std::optional<QRect> ParseGeometry(const std::string& text);
std::string GeometryText(const QRect& r);

// Keeps one top-level window inside the screen and remembers where it was. The first time the
// window is shown it goes to its remembered place, or else to `defaultPlace` (a rectangle in
// global coordinates to centre on, e.g. over its owner), fitted to the screen; each time it is
// hidden or closed its place is stored under `key` in the settings file `settingsPath`.
class WindowPlace : public QObject {
    Q_OBJECT

  public:
    WindowPlace(QWidget* window, std::string key, std::string settingsPath,
                std::function<QRect()> defaultPlace = {});

    // The place the window would take now on its screen (for tests and for the first show).
    QRect FirstGeometry() const;
    void Store() const;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void Place();

    QPointer<QWidget> window_;
    std::string key_;
    std::string path_;
    std::function<QRect()> defaultPlace_;
    bool placed_ = false;
};

// The page the main window showed last: stored on close, shown again on start when its tab is
// there and visible.
void StoreLastPage(const QTabWidget& pages, const std::string& settingsPath);
bool RestoreLastPage(QTabWidget& pages, const std::string& settingsPath);

// Russian hints on the controls whose caption is an English word or a program identifier
// ("ShowFull", "Clear", "CntOffKp", ...); the captions stay. Controls that have a hint keep it.
void AddRussianHints(QWidget& root);

// Mnemonics on every menu and item, keys for the frequent commands, and "Выход" at the end of
// the menu "Файлы". Items are found by object name; the texts shown stay as they are. `stop`
// and `print` get Esc and the print key wherever the focus is.
void SetUpMenuKeys(QMainWindow& window, QAbstractButton* stop, QAbstractButton* print);

}  // namespace vir05
