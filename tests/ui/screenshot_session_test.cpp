// Pictures of the whole screen with the window after an archive read from the simulated
// controller: every page, every dialog, and the printed chart as a PDF.
//
// Runs only when VIR05_SHOT_DIR names a directory; scripts/screenshots.sh runs it under a virtual
// X server at two screen sizes (VIR05_SHOT_PREFIX names the files of one size). The modal
// dialogs are pictured from a timer while they wait for the user, and then closed.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QTranslator>
#include <functional>

#include "tests/ui/session_fixture.h"
#include "ui/main/archive_view.h"
#include "ui/main/window_frame.h"

namespace vir05 {
namespace {

using test::SessionTest;

class ScreenshotSession : public SessionTest {
  protected:
    void Wait(int ms) {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < ms)
            QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    bool Shoot(const QString& name) {
        Wait(300);
        const QPixmap shot = QGuiApplication::primaryScreen()->grabWindow(0);
        return !shot.isNull() && shot.save(QString("%1/%2-%3.png").arg(dir_, prefix_, name));
    }
    // Runs `open` (which blocks in a modal dialog), pictures the dialog and closes it.
    void ShootModal(const QString& name, const std::function<void()>& open) {
        QTimer::singleShot(800, [this, name] {
            EXPECT_TRUE(Shoot(name)) << name.toStdString();
            if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
        });
        open();
    }

    QString dir_ = qEnvironmentVariable("VIR05_SHOT_DIR");
    QString prefix_ = qEnvironmentVariable("VIR05_SHOT_PREFIX", "screen");
};

TEST_F(ScreenshotSession, EveryPageDialogAndThePrintedChart) {
    if (dir_.isEmpty()) GTEST_SKIP() << "VIR05_SHOT_DIR not set";
    ASSERT_TRUE(QDir().mkpath(dir_));
    QTranslator* russian = InstallToolkitTranslations(*qApp);
    QTemporaryDir settings;
    session_.reset();
    session_ = std::make_unique<WindowSession>(*areas_, commandLine_, StartupOutcome{}, log_,
                                               test::Fast());
    session_->KeepPlaces(settings.filePath("vir05.ini").toStdString());
    session_->Window().show();
    session_->FormShow();
    TFormConnect& c = session_->Connection();
    // As the user sets the dialog (showing it loads the saved settings into it).
    auto setUp = [&] {
        PointDialogAtSimulator();
        SetPin("2749");
    };
    EXPECT_TRUE(Shoot("00-start"));
    setUp();
    session_->ReadArchClick();
    ASSERT_TRUE(WaitIdle(60000));

    QTabWidget* tabs = session_->Window().PageControl();
    for (int i = 0; i < tabs->count(); ++i) {
        tabs->setCurrentIndex(i);
        const QString name = tabs->widget(i)->objectName();
        EXPECT_TRUE(Shoot(QString("page-%1-%2").arg(i, 2, 10, QChar('0')).arg(name)));
    }
    tabs->setCurrentIndex(tabs->indexOf(tabs->findChild<QWidget*>("TabSheet9")));

    // The dialogs that stay open beside the window.
    c.show();
    setUp();
    EXPECT_TRUE(Shoot("dialog-connect"));
    if (auto* ask = c.findChild<QPushButton*>("Button1")) ask->click();
    EXPECT_TRUE(Shoot("dialog-comport"));
    // Put away without saving: the settings file beside the tests stays as it is.
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w != &session_->Window() && w->isVisible()) w->hide();
    if (auto* show = session_->Window().Pages()->findChild<QPushButton*>("ShowGr")) show->click();
    EXPECT_TRUE(Shoot("dialog-valuegraph"));
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w != &session_->Window() && w->isVisible()) w->hide();

    // The modal ones.
    ShootModal("dialog-confirm-write", [this] { session_->WriteCfgClick(false, true); });
    ShootModal("dialog-open", [this] { session_->OpenClick(); });
    ShootModal("dialog-about", [this] {
        if (auto* about = session_->Window().findChild<QAction*>("AboutMnu")) about->trigger();
    });
    ShootModal("dialog-print", [this] {
        if (auto* print = session_->Window().Pages()->findChild<QPushButton*>("Button2"))
            print->click();
    });

    // The printed chart.
    auto* view = session_->findChild<ArchiveView*>();
    ASSERT_NE(view, nullptr);
    EXPECT_TRUE(view->PrintToPdf(dir_ + "/" + prefix_ + "-printed.pdf"));
    if (russian) {
        QCoreApplication::removeTranslator(russian);
        delete russian;
    }
}

}  // namespace
}  // namespace vir05
