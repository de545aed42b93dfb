// The value graph editor on an image: redisplay, live edit of the selected rows, weekday
// shortcuts, apply and delete into the schedule area.
#include "ui/graph/graph.h"

#include <gtest/gtest.h>

#include <QLabel>

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QPixmap>
#include <QSpinBox>
#include <QTableWidget>
#include <memory>

#include "core/schedule.h"
#include "model/bytes.h"

namespace vir05 {
namespace {

class GraphEditor : public ::testing::Test {
  protected:
    void SetUp() override {
        areas = std::make_unique<MemoryAreas>();
        editor = std::make_unique<TValueGraph>(*areas);
    }
    QTableWidget* Grid() { return editor->GraphGrid(); }
    QString Text(int row, int col) { return Grid()->item(row, col)->text(); }
    void SelectRows(int top, int bottom) {
        Grid()->clearSelection();
        Grid()->setCurrentCell(top, 1);
        Grid()->setRangeSelected(QTableWidgetSelectionRange(top, 0, bottom, 3), true);
    }
    // The four bytes of a slot in address order.
    std::array<int, 4> Bytes(int c, int k, int s) {
        const int a = ScheduleSlotAddr(c, k, s);
        const std::uint8_t* p = areas->DeviceImage();
        return {p[a], p[a + 1], p[a + 2], p[a + 3]};
    }
    std::unique_ptr<MemoryAreas> areas;
    std::unique_ptr<TValueGraph> editor;
};

TEST_F(GraphEditor, RedisplayFromTheImage) {
    EXPECT_EQ(editor->windowTitle(), "ValueGraph");
    EXPECT_EQ(Grid()->rowCount(), 33);
    EXPECT_EQ(Grid()->columnCount(), 4);
    // Slot 2 of graph 0, circuit 0: 30 06 01 FB = 06:30, Monday, -5.
    PutU32(areas->DeviceImage(), ScheduleSlotAddr(0, 0, 2), 0xFB010630);
    // Slot 0: 15 22 60 07 = 22:15, Saturday and Sunday, 7.
    PutU32(areas->DeviceImage(), ScheduleSlotAddr(0, 0, 0), 0x07602215);
    editor->ShowItClick();
    EXPECT_EQ(Text(0, 0), "№");
    EXPECT_EQ(Text(0, 3), "Значение");
    EXPECT_EQ(Text(32, 0), "32");
    EXPECT_EQ(Text(3, 1), "06:30");
    EXPECT_EQ(Text(3, 2), "Пн." + QString(18, ' '));
    EXPECT_EQ(Text(3, 3), "-5");
    EXPECT_EQ(Text(1, 1), "22:15");
    EXPECT_EQ(Text(1, 2), QString(15, ' ') + "Сб.Вс.");
    EXPECT_EQ(Text(2, 1), "");
    // Loading the controls from row 3.
    editor->GraphGridSelectCell(3);
    EXPECT_EQ(editor->SpinH()->value(), 6);
    EXPECT_EQ(editor->SpinM()->value(), 30);
    EXPECT_EQ(editor->SpinV()->value(), -5);
    EXPECT_TRUE(editor->Day(0)->isChecked());
    EXPECT_FALSE(editor->Day(1)->isChecked());
}

// The caption stays "ValueGraph"; the window says which graph of which circuit it shows.
TEST_F(GraphEditor, SaysWhichGraphAndCircuit) {
    auto* shown = editor->findChild<QLabel*>("GraphShown");
    ASSERT_NE(shown, nullptr);
    const struct {
        int circuit, graph;
        const char* want;
    } cases[] = {{0, 0, "Контур 1: график контура («Просмотр»)"},
                 {1, 1, "Контур 2: график 1,2"},
                 {0, 2, "Контур 1: график 3,4"}};
    for (const auto& c : cases) {
        areas->SelectedCircuit = c.circuit;
        editor->SetGraph(c.graph);
        editor->ShowItClick();
        EXPECT_EQ(shown->text(), QString(c.want));
        EXPECT_EQ(editor->windowTitle(), QString("ValueGraph"));
    }
}

TEST_F(GraphEditor, OtherCircuitAndGraphAddresses) {
    // Circuit 2, graph 2, slot 31: address 535 + 384 + 256 + 124.
    PutU32(areas->DeviceImage(), 535 + 384 + 256 + 124, 0x01010745);
    areas->SelectedCircuit = 1;
    editor->SetGraph(2);
    editor->ShowItClick();
    EXPECT_EQ(Text(32, 1), "07:45");
    EXPECT_EQ(Text(32, 3), "1");
    // The same graph of circuit 1 is empty.
    areas->SelectedCircuit = 0;
    editor->ShowItClick();
    EXPECT_EQ(Text(32, 1), "");
    // A graph number out of range is ignored.
    editor->SetGraph(5);
    EXPECT_EQ(editor->Graph(), 2);
    // Storing circuit 2's graph 1 writes only its own 128 bytes.
    areas->SelectedCircuit = 1;
    editor->SetGraph(1);
    editor->ShowItClick();
    SelectRows(1, 1);
    editor->SpinH()->setValue(5);
    editor->Day(2)->setChecked(true);
    EXPECT_EQ(Text(1, 1), "05:00");
    EXPECT_EQ(Text(1, 2), "      Ср." + QString(12, ' '));
    editor->ApplyClick(editor->ApplyButton());
    // 00 05 04 00 at 535 + 384 + 128: 05:00, Wednesday, value 0.
    EXPECT_EQ(Bytes(1, 1, 0), (std::array<int, 4>{0x00, 0x05, 0x04, 0x00}));
    int nonZero = 0;
    for (int a = addr::Schedules; a < addr::Schedules + 768; ++a)
        nonZero += areas->DeviceImage()[a] != 0;
    EXPECT_EQ(nonZero, 6);  // 05 04 above and 45 07 01 01 of graph 2
}

TEST_F(GraphEditor, ApplyOnAnEmptyRowStoresTheControls) {
    SelectRows(4, 4);
    editor->SpinH()->setValue(6);
    editor->SpinM()->setValue(30);
    editor->Day(0)->setChecked(true);
    editor->SpinV()->setValue(-5);
    editor->ApplyClick(editor->ApplyButton());
    // Slot 3: 30 06 01 FB.
    EXPECT_EQ(Bytes(0, 0, 3), (std::array<int, 4>{0x30, 0x06, 0x01, 0xFB}));
    EXPECT_EQ(Text(4, 1), "06:30");
    // The other slots stay the all-zero word.
    EXPECT_EQ(Bytes(0, 0, 4), (std::array<int, 4>{0, 0, 0, 0}));
}

TEST_F(GraphEditor, ApplyWithoutDaysAndDelete) {
    PutU32(areas->DeviceImage(), ScheduleSlotAddr(0, 0, 5), 0x0A1F0800);  // 08:00 Mon-Fri 10
    editor->ShowItClick();
    SelectRows(6, 6);
    editor->GraphGridSelectCell(6);
    editor->ApplyClick(editor->DelButton());
    // Time and value kept, weekday byte 0: 00 08 00 0A; the row shows empty.
    EXPECT_EQ(Bytes(0, 0, 5), (std::array<int, 4>{0x00, 0x08, 0x00, 0x0A}));
    EXPECT_EQ(Text(6, 1), "");
    EXPECT_EQ(Text(6, 2), "");
    // Apply on an empty row with no day box checked stores an entry that shows empty again.
    SelectRows(7, 7);
    editor->SpinH()->setValue(9);
    editor->ApplyClick(editor->ApplyButton());
    EXPECT_EQ(Bytes(0, 0, 6)[2], 0);
    EXPECT_EQ(Text(7, 1), "");
}

TEST_F(GraphEditor, LiveEditOfAllSelectedRows) {
    for (int s = 2; s <= 6; ++s)  // rows 3 to 7: s:00, day s, value s
        PutU32(areas->DeviceImage(), ScheduleSlotAddr(0, 0, s), MakeScheduleEntry(s, 0, 1 << s, s));
    editor->ShowItClick();
    SelectRows(3, 7);
    editor->SpinM()->setValue(45);
    editor->SpinH()->setValue(11);
    for (int row = 3; row <= 7; ++row) {
        EXPECT_EQ(Text(row, 1), "11:45") << row;
        EXPECT_EQ(Text(row, 2), QString::fromStdString(DaysText(1 << (row - 1)))) << row;
        EXPECT_EQ(Text(row, 3), QString::number(row - 1)) << row;
    }
    EXPECT_EQ(Text(8, 1), "");
    EXPECT_EQ(Text(2, 1), "");
    // The value field rewrites only the values of the same rows.
    editor->SpinV()->setValue(-7);
    for (int row = 3; row <= 7; ++row) {
        EXPECT_EQ(Text(row, 3), "-7") << row;
        EXPECT_EQ(Text(row, 1), "11:45") << row;
    }
    EXPECT_EQ(Text(8, 3), "");
    // The image is untouched until Apply; Cancel brings the table back.
    EXPECT_EQ(Bytes(0, 0, 2)[1], 0x02);
    editor->ShowItClick();
    EXPECT_EQ(Text(3, 1), "02:00");
}

TEST_F(GraphEditor, ShowingLoadsTheControlsFromRowOne) {
    // 05 21 48 7F: 21:05, Thursday and Sunday, 127.
    PutU32(areas->DeviceImage(), ScheduleSlotAddr(0, 0, 0), 0x7F482105);
    editor->ShowItClick();
    editor->ShowNonModal();
    EXPECT_TRUE(editor->isVisible());
    EXPECT_EQ(editor->SpinH()->value(), 21);
    EXPECT_EQ(editor->SpinM()->value(), 5);
    EXPECT_EQ(editor->SpinV()->value(), 127);
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(editor->Day(i)->isChecked(), i == 3 || i == 6) << i;
    // Loading the controls does not write into the rows.
    EXPECT_EQ(Text(1, 1), "21:05");
    EXPECT_EQ(Text(1, 2), QString::fromStdString(DaysText(0x48)));
}

TEST_F(GraphEditor, WorkDaysToggles) {
    SelectRows(2, 3);
    ASSERT_FALSE(editor->Day(0)->isChecked());
    editor->WorkDaysClick();
    for (int i = 0; i < 5; ++i)
        EXPECT_TRUE(editor->Day(i)->isChecked()) << i;
    EXPECT_FALSE(editor->Day(5)->isChecked());
    for (int row : {2, 3})
        EXPECT_EQ(Text(row, 2), "Пн.Вт.Ср.Чт.Пт." + QString(6, ' ')) << row;
    EXPECT_EQ(Text(4, 2), "");
    editor->WorkDaysClick();
    for (int i = 0; i < 7; ++i)
        EXPECT_FALSE(editor->Day(i)->isChecked()) << i;
    EXPECT_EQ(Text(2, 2), QString(21, ' '));
    editor->CelDaysClick();
    EXPECT_EQ(Text(2, 2), QString(15, ' ') + "Сб.Вс.");
    editor->AllDaysClick();
    EXPECT_EQ(Text(3, 2), "Пн.Вт.Ср.Чт.Пт.Сб.Вс.");
}

TEST_F(GraphEditor, ValueLimitsPerGraph) {
    struct Case {
        int graph, min, max;
    } cases[] = {{0, -99, 127}, {1, 0, 1}, {2, 0, 1}};
    for (const Case& c : cases) {
        editor->SetGraph(c.graph);
        editor->ShowItClick();
        EXPECT_EQ(editor->SpinV()->minimum(), c.min) << c.graph;
        EXPECT_EQ(editor->SpinV()->maximum(), c.max) << c.graph;
        editor->SpinV()->setValue(100);
        EXPECT_EQ(editor->SpinV()->value(), std::min(100, c.max)) << c.graph;
    }
}

TEST_F(GraphEditor, OddCellsLoadAndStoreSafely) {
    // 45 1A 40 03: an hour nibble above 9 shows a six-character time.
    PutU32(areas->DeviceImage(), ScheduleSlotAddr(0, 0, 0), 0x03401A45);
    editor->ShowItClick();
    EXPECT_EQ(Text(1, 1), "110:45");
    editor->GraphGridSelectCell(1);
    EXPECT_EQ(editor->SpinH()->value(), 0);
    EXPECT_EQ(editor->SpinM()->value(), 0);
    SelectRows(1, 1);
    editor->ApplyClick(editor->ApplyButton());
    // Stored as 00:00 with its Sunday and value: 00 00 40 03.
    EXPECT_EQ(Bytes(0, 0, 0), (std::array<int, 4>{0x00, 0x00, 0x40, 0x03}));
}

TEST_F(GraphEditor, Screenshot) {
    const QString dir = qEnvironmentVariable("VIR05_SHOT_DIR");
    if (dir.isEmpty()) GTEST_SKIP() << "VIR05_SHOT_DIR not set";
    ASSERT_TRUE(QDir().mkpath(dir));
    PutU32(areas->DeviceImage(), ScheduleSlotAddr(0, 0, 0), MakeScheduleEntry(6, 30, 0x1F, -5));
    PutU32(areas->DeviceImage(), ScheduleSlotAddr(0, 0, 1), MakeScheduleEntry(22, 0, 0x1F, 3));
    PutU32(areas->DeviceImage(), ScheduleSlotAddr(0, 0, 2), MakeScheduleEntry(8, 0, 0x60, 0));
    editor->ShowItClick();
    editor->ShowNonModal();
    QApplication::processEvents();
    const QPixmap shot = editor->grab();
    EXPECT_TRUE(shot.save(dir + "/graph.png", "PNG"));
}

}  // namespace
}  // namespace vir05
