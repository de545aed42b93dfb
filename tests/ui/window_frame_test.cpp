// Windows on the desktop: they open inside the screen with the title bar reachable, come back
// where the user left them, and the toolkit's own buttons speak Russian.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QRegularExpression>
#include <QScreen>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTranslator>
#include <cstdlib>
#include <memory>
#include <optional>

#include "model/settings.h"
#include "ui/connect/connect.h"
#include "ui/main/vir_cfg.h"
#include "ui/main/window_frame.h"

namespace vir05 {
namespace {

TEST(FitOnScreen, SizeCutAndFrameKeptInside) {
    const QMargins frame(6, 32, 6, 6);
    const QRect laptop(0, 0, 1366, 728);  // 1366 x 768 less a 40-pixel panel
    const struct {
        const char* what;
        QSize wanted;
        std::optional<QPoint> place;
        QRect available;
        QRect want;
    } cases[] = {
        // The window's first size is taller than the laptop: cut, centred across, title on top.
        {"first start on a laptop", {968, 809}, std::nullopt, laptop, {199, 32, 968, 690}},
        // It fits: centred on the available area.
        {"first start on a large screen",
         {968, 809},
         std::nullopt,
         {0, 0, 1920, 1040},
         {476, 115, 968, 809}},
        // A place remembered from a larger screen, now half off it: moved back inside.
        {"remembered off screen", {968, 700}, QPoint(1500, 600), laptop, {392, 32, 968, 690}},
        {"remembered above the top", {400, 300}, QPoint(100, -50), laptop, {100, 32, 400, 300}},
        {"remembered and fitting", {400, 300}, QPoint(100, 200), laptop, {100, 200, 400, 300}},
        // A second screen to the right of the first.
        {"right screen",
         {400, 300},
         QPoint(1400, 100),
         {1366, 0, 1920, 1080},
         {1400, 100, 400, 300}},
    };
    for (const auto& c : cases) {
        const QRect got = FitOnScreen(c.wanted, c.place, frame, c.available);
        // The frame around the result lies wholly inside the available area.
        EXPECT_TRUE(c.available.contains(got.marginsAdded(frame))) << c.what;
        EXPECT_EQ(got, c.want) << c.what;
    }
}

TEST(FitOnScreen, CentresOverItsOwner) {
    const QRect owner(100, 100, 800, 600);
    const QRect got = FitOnScreen({400, 200}, std::nullopt, {}, {0, 0, 1920, 1080}, owner);
    EXPECT_EQ(got.center(), owner.center());
}

TEST(GeometryText, RoundTripAndRejects) {
    EXPECT_EQ(ParseGeometry(GeometryText(QRect(-5, 20, 640, 480))), QRect(-5, 20, 640, 480));
    for (const char* bad :
         {"", "1,2,3", "1,2,300,400,5", "a,2,300,400", "1,2,30,400", "1;2;3;4", "1,2,300,400 "})
        EXPECT_FALSE(ParseGeometry(bad).has_value()) << bad;
}

class WindowPlaceTest : public ::testing::Test {
  protected:
    std::string Path() const { return dir_.filePath("vir05.ini").toStdString(); }
    std::string Key(const char* key) const {
        IniFile ini;
        ini.Load(Path());
        return ini.ReadString(kSettingsSection, key, "(none)");
    }
    void Put(const char* key, const char* value) {
        IniFile ini;
        ini.Load(Path());
        ini.WriteString(kSettingsSection, key, value);
        ASSERT_TRUE(ini.Save(Path()));
    }
    QRect Available(QWidget& w) const { return w.screen()->availableGeometry(); }

    QTemporaryDir dir_;
};

TEST_F(WindowPlaceTest, TheMainWindowOpensInsideASmallScreen) {
    // The offscreen platform's screen is smaller than the window's design size.
    TFormCfg window;
    const QRect available = Available(window);
    ASSERT_LT(available.height(), 809) << "the test needs a screen lower than the window";
    window.show();
    const QRect g = window.geometry();

    EXPECT_LE(g.height(), 809);
    // Title bar and menu on the screen: the top of the window at least a title bar below the
    // screen's top, the bottom on the screen.
    EXPECT_GE(g.top(), available.top());
    EXPECT_LE(g.bottom(), available.bottom());
    EXPECT_GE(g.left(), available.left());
}

TEST_F(WindowPlaceTest, RemembersSizePlaceAndMaximisedState) {
    auto window = [] {
        auto w = std::make_unique<QWidget>(nullptr, Qt::Window);
        w->resize(500, 400);
        return w;
    };
    QRect firstPlace;
    {
        auto w = window();
        WindowPlace place(w.get(), "FormCfg", Path());
        w->show();
        firstPlace = w->geometry();
        // No keys yet: the window's own size, centred on the screen.
        EXPECT_EQ(firstPlace.size(), QSize(500, 400));
        EXPECT_LE(std::abs(firstPlace.center().x() - Available(*w).center().x()), 4);
        w->setGeometry(40, 50, 600, 420);
        w->close();
    }
    EXPECT_EQ(Key("FormCfgGeometry"), "40,50,600,420");
    EXPECT_EQ(Key("FormCfgMaximized"), "0");
    {
        auto w = window();
        WindowPlace place(w.get(), "FormCfg", Path());
        w->show();
        EXPECT_EQ(w->geometry(), QRect(40, 50, 600, 420));
    }
    // A place from a larger screen comes back inside this one.
    Put("FormCfgGeometry", "3000,2000,600,420");
    {
        auto w = window();
        WindowPlace place(w.get(), "FormCfg", Path());
        w->show();
        EXPECT_EQ(w->size(), QSize(600, 420));
        EXPECT_TRUE(Available(*w).contains(w->frameGeometry()));
    }
    // A maximised window comes back maximised, and is stored so again.
    Put("FormCfgGeometry", "40,50,600,420");
    Put("FormCfgMaximized", "1");
    {
        auto w = window();
        WindowPlace place(w.get(), "FormCfg", Path());
        w->show();
        EXPECT_TRUE(w->windowState() & Qt::WindowMaximized);
        w->close();
    }
    EXPECT_EQ(Key("FormCfgMaximized"), "1");
    // Garbage in the file: the place of a first start, no crash.
    Put("FormCfgGeometry", "x,1,2");
    Put("FormCfgMaximized", "0");
    {
        auto w = window();
        WindowPlace place(w.get(), "FormCfg", Path());
        w->show();
        EXPECT_EQ(w->geometry(), firstPlace);
    }
}

TEST_F(WindowPlaceTest, ADialogOpensOverItsOwnerAndComesBack) {
    QWidget owner;
    owner.setGeometry(100, 100, 600, 400);
    QWidget dialog(&owner, Qt::Window);
    dialog.resize(200, 100);
    WindowPlace place(&dialog, "FormConnect", Path(), [&] { return owner.geometry(); });
    dialog.show();
    EXPECT_EQ(dialog.geometry().center(), owner.geometry().center());
    dialog.setGeometry(30, 60, 220, 120);
    dialog.hide();
    EXPECT_EQ(Key("FormConnectGeometry"), "30,60,220,120");
    QWidget again(&owner, Qt::Window);
    WindowPlace placeAgain(&again, "FormConnect", Path(), [&] { return owner.geometry(); });
    again.show();
    EXPECT_EQ(again.geometry(), QRect(30, 60, 220, 120));
}

TEST_F(WindowPlaceTest, TheLastPageComesBackWhenItsTabIsShown) {
    TFormCfg window;
    QTabWidget* tabs = window.PageControl();
    EXPECT_FALSE(RestoreLastPage(*tabs, Path()));  // nothing stored: the first page stays
    EXPECT_EQ(tabs->currentIndex(), 0);
    const struct {
        const char* stored;
        bool serviceShown;
        const char* want;
    } cases[] = {{"TabSheet9", false, "TabSheet9"},
                 {"TabSheetServ", false, "TabSheet14"},  // hidden outside service mode
                 {"TabSheetServ", true, "TabSheetServ"},
                 {"NoSuchPage", true, "TabSheet14"}};
    for (const auto& c : cases) {
        tabs->setCurrentIndex(tabs->indexOf(tabs->findChild<QWidget*>(c.stored)));
        if (tabs->currentIndex() >= 0 && QString(c.stored) != "NoSuchPage") {
            StoreLastPage(*tabs, Path());
        } else {
            Put("FormCfgPage", c.stored);
        }
        window.SetServicePagesVisible(c.serviceShown);
        tabs->setCurrentIndex(0);
        RestoreLastPage(*tabs, Path());
        EXPECT_EQ(tabs->currentWidget()->objectName(), QString(c.want)) << c.stored;
    }
}

TEST(ToolkitTranslation, MessageBoxButtonsAreRussian) {
    QTranslator* translator = InstallToolkitTranslations(*qApp);
    ASSERT_NE(translator, nullptr) << "the toolkit's Russian translation is not installed";
    QMessageBox box(QMessageBox::Question, "Подтвердите операцию", "Записать?",
                    QMessageBox::Ok | QMessageBox::Cancel);
    EXPECT_EQ(box.button(QMessageBox::Cancel)->text().remove('&'), QString("Отмена"));
    QMessageBox yesNo(QMessageBox::Question, "?", "?", QMessageBox::Yes | QMessageBox::No);
    EXPECT_EQ(yesNo.button(QMessageBox::Yes)->text().remove('&'), QString("Да"));
    QCoreApplication::removeTranslator(translator);
    delete translator;
}

}  // namespace
}  // namespace vir05

namespace vir05 {
namespace {

// English captions and program identifiers keep their text and get a Russian hint.
TEST(RussianHints, EnglishCaptionsAndIdentifiersAreExplained) {
    TFormCfg window;
    TFormConnect dialog;
    AddRussianHints(dialog);
    const struct {
        QWidget* root;
        const char* name;
        const char* caption;
    } cases[] = {{&dialog, "ShowFull", "ShowFull"},
                 {window.Pages(), "Button1", "Clear"},
                 {window.Pages(), "LCntOffKp", "CntOffKp"},
                 {window.Pages(), "Lcnt_bigTi", "cnt_bigTi"}};
    const QRegularExpression cyrillic("[А-Яа-я]");
    for (const auto& c : cases) {
        QWidget* w = nullptr;
        for (QWidget* candidate : c.root->findChildren<QWidget*>(c.name))
            if (candidate->property("text").toString() == c.caption) w = candidate;
        ASSERT_NE(w, nullptr) << c.name;
        EXPECT_TRUE(w->toolTip().contains(cyrillic)) << c.name;
    }
    // The connection dialog's "?" keeps its own hint.
    auto* ask = dialog.findChild<QWidget*>("Button1");
    ASSERT_NE(ask, nullptr);
    const QString before = ask->toolTip();
    AddRussianHints(dialog);
    EXPECT_EQ(ask->toolTip(), before);
}

}  // namespace
}  // namespace vir05
