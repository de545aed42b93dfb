// The window's layout at its design size with a presented image: every caption, value and
// button gets the room its text needs, and all page tabs fit the tab bar.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QTabBar>
#include <QTabWidget>
#include <memory>
#include <string>

#include "core/present/present.h"
#include "model/memory.h"
#include "sim/generator.h"
#include "ui/main/binder.h"
#include "ui/main/vir_cfg.h"

namespace vir05 {
namespace {

class LayoutTest : public ::testing::TestWithParam<std::uint32_t> {
  protected:
    void SetUp() override {
        auto areas = std::make_unique<MemoryAreas>();
        sim::GeneratorOptions options;
        options.seed = GetParam();
        sim::GenerateContents(options, areas->DeviceImage(), areas->ArchiveImage());
        PresentationState presentation;
        ControlState state;
        PresentImage(*areas, presentation, state);
        ApplyControlState(window.Pages(), state);
        window.SetServicePagesVisible(true);
        window.show();
        // The test screen is smaller than the window, which opens cut to it; the layout is
        // checked at the window's own size, as on a screen that holds it.
        window.resize(968, 809);
        for (int i = 0; i < 5; ++i)
            QApplication::processEvents();
    }

    // Shows page `index` and lets its layouts settle.
    QWidget* ShowPage(QTabWidget* tabs, int index) {
        tabs->setCurrentIndex(index);
        // Layout requests travel up one parent per pass.
        for (int i = 0; i < 5; ++i)
            QApplication::processEvents();
        return tabs->widget(index);
    }

    // Every visible label and button below `page` is at least as large as its text needs.
    void ExpectNothingClipped(QWidget* page) {
        const std::string where = page->objectName().toStdString();
        for (QWidget* w : page->findChildren<QWidget*>()) {
            if (!w->isVisible()) continue;
            const bool text = qobject_cast<QLabel*>(w) || qobject_cast<QAbstractButton*>(w);
            if (!text || qobject_cast<QTabBar*>(w->parentWidget())) continue;
            const QSize need = w->minimumSizeHint();
            EXPECT_GE(w->width(), need.width()) << where << ": " << w->objectName().toStdString();
            EXPECT_GE(w->height(), need.height()) << where << ": " << w->objectName().toStdString();
        }
    }

    TFormCfg window;
};

TEST_P(LayoutTest, AllTabsFitTheBar) {
    QWidget* circuits = window.Pages()->findChild<QWidget*>("TabSheet1");
    ASSERT_NE(circuits, nullptr);
    ShowPage(window.PageControl(), window.PageControl()->indexOf(circuits));
    for (QTabWidget* tabs :
         {window.PageControl(), circuits->findChild<QTabWidget*>("PageControl2")}) {
        ASSERT_NE(tabs, nullptr);
        QTabBar* bar = tabs->tabBar();
        const QRect last = bar->tabRect(bar->count() - 1);
        EXPECT_LE(last.right(), bar->width()) << tabs->objectName().toStdString();
    }
}

TEST_P(LayoutTest, NoTextIsClipped) {
    EXPECT_EQ(window.size(), QSize(968, 809));
    QTabWidget* tabs = window.PageControl();
    for (int i = 0; i < tabs->count(); ++i) {
        QWidget* page = ShowPage(tabs, i);
        ExpectNothingClipped(page);
        if (auto* inner = page->findChild<QTabWidget*>("PageControl2")) {
            for (int j = 0; j < inner->count(); ++j)
                ExpectNothingClipped(ShowPage(inner, j));
        }
    }
    window.SetReadPanelVisible(false);
    window.SetProgressPanelVisible(true);
    window.SetRetryCount(12345);
    for (int i = 0; i < 5; ++i)
        QApplication::processEvents();
    ExpectNothingClipped(window.findChild<QWidget*>("Panel1"));
}

// While a command runs the progress panel stands where the tool buttons were; the pages below
// stay where they are.
TEST_P(LayoutTest, PagesKeepTheirPlaceWhenThePanelsSwap) {
    const QRect idle = window.PageControl()->geometry();
    window.SetReadPanelVisible(false);
    window.SetProgressPanelVisible(true);
    for (int i = 0; i < 5; ++i)
        QApplication::processEvents();
    EXPECT_EQ(window.PageControl()->geometry(), idle);
}

INSTANTIATE_TEST_SUITE_P(Seeds, LayoutTest, ::testing::Values(1u, 99u, 2026u));

}  // namespace
}  // namespace vir05
