// Pictures of every page with a generated image presented, for looking at the layout.
//
// Runs only when VIR05_SHOT_DIR names a directory, best under a virtual X server, e.g.
//   VIR05_SHOT_DIR=/tmp/vir05-shots xvfb-run -s "-screen 0 1280x1024x24"
//   env QT_QPA_PLATFORM=xcb ui_tests --gtest_filter='Screenshots.*'
// (one command line).
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QTabWidget>
#include <memory>

#include "core/present/present.h"
#include "model/memory.h"
#include "sim/generator.h"
#include "ui/main/binder.h"
#include "ui/main/vir_cfg.h"

namespace vir05 {
namespace {

bool Save(QWidget* window, const QString& path) {
    QApplication::processEvents();
    const QPixmap shot = window->grab();
    return !shot.isNull() && shot.save(path, "PNG");
}

TEST(Screenshots, EveryPageWithAPresentedImage) {
    const QString dir = qEnvironmentVariable("VIR05_SHOT_DIR");
    if (dir.isEmpty()) GTEST_SKIP() << "VIR05_SHOT_DIR not set";
    ASSERT_TRUE(QDir().mkpath(dir));

    auto areas = std::make_unique<MemoryAreas>();
    sim::GeneratorOptions options;
    sim::GenerateContents(options, areas->DeviceImage(), areas->ArchiveImage());
    PresentationState presentation;
    ControlState state;
    PresentImage(*areas, presentation, state);

    TFormCfg window;
    ASSERT_TRUE(ApplyControlState(window.Pages(), state).empty());
    window.show();
    QTabWidget* tabs = window.PageControl();
    for (int i = 0; i < tabs->count(); ++i) {
        tabs->setCurrentIndex(i);
        const QString name = tabs->widget(i)->objectName();
        EXPECT_TRUE(
            Save(&window, QString("%1/%2-%3.png").arg(dir).arg(i, 2, 10, QChar('0')).arg(name)))
            << name.toStdString();
        if (name == "TabSheet1") {
            auto* inner = tabs->widget(i)->findChild<QTabWidget*>("PageControl2");
            ASSERT_NE(inner, nullptr);
            for (int j = 1; j < inner->count(); ++j) {
                inner->setCurrentIndex(j);
                EXPECT_TRUE(Save(&window, QString("%1/%2-%3-%4.png")
                                              .arg(dir)
                                              .arg(i, 2, 10, QChar('0'))
                                              .arg(name)
                                              .arg(j)));
            }
            inner->setCurrentIndex(0);
        }
    }
    // The frame while a command runs: the progress panel in place of the tool buttons.
    tabs->setCurrentIndex(0);
    window.SetReadPanelVisible(false);
    window.SetProgressPanelVisible(true);
    window.SetProgress(40);
    window.SetRetryCount(3);
    EXPECT_TRUE(Save(&window, dir + "/progress.png"));
}

}  // namespace
}  // namespace vir05
