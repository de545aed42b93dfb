// "Справка" opens the help page beside the program (silently nothing without it); "Версия"
// shows the about box with its gauge animated while it is visible.
#include <gtest/gtest.h>

#include <QFile>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include "ui/main/about.h"

namespace vir05 {
namespace {

TEST(Help, OpensThePageOfTheProgramDirectoryOnly) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    std::vector<QUrl> opened;
    auto open = [&](const QUrl& url) {
        opened.push_back(url);
        return true;
    };
    EXPECT_FALSE(HelpClick(dir.path(), open));  // no page: nothing is asked, nothing said
    EXPECT_TRUE(opened.empty());

    QFile page(dir.filePath(kHelpFileName));
    ASSERT_TRUE(page.open(QIODevice::WriteOnly));
    page.write("<html></html>");
    page.close();
    EXPECT_TRUE(HelpClick(dir.path(), open));
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0], QUrl::fromLocalFile(dir.filePath("vir05.html")));

    // A page that no program opens: the caption says so; an opened one says nothing.
    QStringList captions;
    auto caption = [&](const QString& t) { captions << t; };
    EXPECT_TRUE(HelpClick(
        dir.path(), [](const QUrl&) { return false; }, caption));
    ASSERT_EQ(captions.size(), 1);
    EXPECT_TRUE(captions[0].contains("программа для её просмотра не найдена"));
    EXPECT_TRUE(captions[0].contains("vir05.html"));
    EXPECT_TRUE(HelpClick(dir.path(), open, caption));
    EXPECT_EQ(captions.size(), 1);
}

TEST(About, ShowsNameVersionContactsAndAnimates) {
    TAboutBox box;
    auto text = [&](const char* name) {
        auto* l = box.findChild<QLabel*>(name);
        return l ? l->text().toStdString() : std::string("(missing)");
    };
    EXPECT_EQ(text("ProductName"), "VIR05Win");
    EXPECT_EQ(text("Version"), "Версия 1.0.0");
    EXPECT_EQ(text("Contacts"), "Служба поддержки ВИР-05");

    TAboutGauge* gauge = box.Gauge();
    EXPECT_FALSE(gauge->Running());
    box.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&box));
    EXPECT_TRUE(gauge->Running());
    // The needle sweeps up to the end of the scale and back.
    std::vector<int> seen;
    for (int i = 0; i < 60; ++i) {
        gauge->Step();
        seen.push_back(gauge->Value());
    }
    EXPECT_EQ(seen[0], 2);
    EXPECT_EQ(seen[49], 100);
    EXPECT_EQ(seen[50], 98);
    for (int v : seen) {
        EXPECT_GE(v, 0);
        EXPECT_LE(v, 100);
    }
    box.hide();
    EXPECT_FALSE(gauge->Running());
}

}  // namespace
}  // namespace vir05
