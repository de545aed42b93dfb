// Schedule entries: the word in the image, the cells the editor shows and the word it stores.
#include "core/schedule.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

#include "model/bytes.h"

namespace vir05 {
namespace {

// Bytes in address order: minutes BCD, hours BCD, weekday bits, value.
std::uint32_t Word(std::uint8_t m, std::uint8_t h, std::uint8_t d, std::uint8_t v) {
    return m | (h << 8) | (d << 16) | (static_cast<std::uint32_t>(v) << 24);
}

TEST(ScheduleEntry, CellsOfStoredWords) {
    struct Case {
        std::uint32_t word;
        const char* time;
        std::string days;
        const char* value;
    } cases[] = {
        // 30 06 01 FB: 06:30, Monday, -5
        {Word(0x30, 0x06, 0x01, 0xFB), "06:30", "Пн." + std::string(18, ' '), "-5"},
        // 00 23 1F 7F: 23:00, Monday to Friday, 127
        {Word(0x00, 0x23, 0x1F, 0x7F), "23:00", "Пн.Вт.Ср.Чт.Пт." + std::string(6, ' '), "127"},
        // 59 00 60 01: 00:59, Saturday and Sunday, 1
        {Word(0x59, 0x00, 0x60, 0x01), "00:59", std::string(15, ' ') + "Сб.Вс.", "1"},
        // 45 1A 40 00: hour nibbles 1 and 10 shown as numbers, a six-character time
        {Word(0x45, 0x1A, 0x40, 0x00), "110:45", std::string(18, ' ') + "Вс.", "0"},
        // 30 06 00 FB: weekday byte 0, an unused entry shows nothing
        {Word(0x30, 0x06, 0x00, 0xFB), "", "", ""},
    };
    for (const Case& c : cases) {
        const ScheduleCells cells = EntryCells(c.word);
        EXPECT_EQ(cells.time, c.time) << std::hex << c.word;
        EXPECT_EQ(cells.value, c.value) << std::hex << c.word;
        EXPECT_EQ(cells.days, c.days) << std::hex << c.word;
    }
}

TEST(ScheduleEntry, StoreFromParts) {
    // 06:30, Monday, -5 stores 30 06 01 FB.
    std::array<std::uint8_t, kImageSize> image{};
    WriteScheduleEntry(image.data(), 0, 0, 0, MakeScheduleEntry(6, 30, 0x01, -5));
    const int a = ScheduleAddr(0, 0);
    EXPECT_EQ(image[a], 0x30);
    EXPECT_EQ(image[a + 1], 0x06);
    EXPECT_EQ(image[a + 2], 0x01);
    EXPECT_EQ(image[a + 3], 0xFB);
    // Bit 7 of the weekday byte is never written.
    EXPECT_EQ(EntryDays(MakeScheduleEntry(0, 0, 0xFF, 0)), 0x7F);
}

TEST(ScheduleEntry, StoreFromCells) {
    struct Case {
        const char* time;
        std::string days;
        const char* value;
        std::uint32_t word;
    } cases[] = {
        {"06:30", "Пн.                  ", "-5", Word(0x30, 0x06, 0x01, 0xFB)},
        {"23:59", "      Ср.         Вс.", "127", Word(0x59, 0x23, 0x44, 0x7F)},
        // Deleted row: time and value kept, no weekdays.
        {"12:15", "                     ", "1", Word(0x15, 0x12, 0x00, 0x01)},
        // A time that is not dd:dd stores as 00:00, whatever its characters are.
        {"110:45", "Вс.", "0", Word(0x00, 0x00, 0x40, 0x00)},
        {"ab:cd", "Пн.", "3", Word(0x00, 0x00, 0x01, 0x03)},
        {"0630", "Пн.", "3", Word(0x00, 0x00, 0x01, 0x03)},
        // A value that is not a number stores as 0; one beyond a byte is clamped, not wrapped
        // into another value.
        {"06:30", "Пн.", "abc", Word(0x30, 0x06, 0x01, 0x00)},
        {"06:30", "Пн.", "300", Word(0x30, 0x06, 0x01, 0x7F)},
        {"06:30", "Пн.", "-300", Word(0x30, 0x06, 0x01, 0x80)},
        {"06:30", "Пн.", "99999999999999", Word(0x30, 0x06, 0x01, 0x00)},
        {"", "", "", 0},
        // The weekday text of the table, as shown, reads back to its bits.
        {"00:00", DaysText(0x7F), "0", Word(0x00, 0x00, 0x7F, 0x00)},
    };
    for (const Case& c : cases)
        EXPECT_EQ(EntryFromCells(c.time, c.days, c.value), c.word)
            << c.time << " | " << c.days << " | " << c.value;
}

TEST(ScheduleEntry, ParsingIsSafeForAnyText) {
    EXPECT_EQ(ParseWholeNumber("-5"), -5);
    EXPECT_EQ(ParseWholeNumber(" 12 "), 12);
    EXPECT_EQ(ParseWholeNumber("+7"), 7);
    for (const char* bad :
         {"", " ", "-", "+", "+-3", "1.5", "0x10", "12a", "--1", "999999999999999999999", "Пн."})
        EXPECT_EQ(ParseWholeNumber(bad), std::nullopt) << bad;
    EXPECT_FALSE(ParseTimeText("6:30"));
    EXPECT_FALSE(ParseTimeText("06-30"));
    const auto t = ParseTimeText("07:05");
    ASSERT_TRUE(t);
    EXPECT_EQ(t->hour, 7);
    EXPECT_EQ(t->minute, 5);
    EXPECT_EQ(TimeText(7, 5), "07:05");
    EXPECT_EQ(TimeText(23, 59), "23:59");
}

TEST(ScheduleEntry, ValueLimitsByGraph) {
    EXPECT_EQ(ScheduleValueMin(0), -99);
    EXPECT_EQ(ScheduleValueMax(0), 127);
    for (int k : {1, 2}) {
        EXPECT_EQ(ScheduleValueMin(k), 0);
        EXPECT_EQ(ScheduleValueMax(k), 1);
    }
}

TEST(ScheduleEntry, SlotAddressesStayInsideTheArea) {
    EXPECT_EQ(ScheduleSlotAddr(0, 0, 0), 535);
    EXPECT_EQ(ScheduleSlotAddr(1, 2, 31), 535 + 384 + 256 + 124);
    EXPECT_EQ(ScheduleSlotAddr(1, 1, 3), 535 + 384 + 128 + 12);
    // Out-of-range circuit, graph or slot never addresses outside the schedule area.
    EXPECT_EQ(ScheduleSlotAddr(7, 9, 99), ScheduleSlotAddr(1, 2, 31));
    EXPECT_EQ(ScheduleSlotAddr(-1, -1, -1), ScheduleSlotAddr(0, 0, 0));
}

TEST(ScheduleEntry, ValueInForce) {
    std::array<std::uint8_t, 128> graph{};
    auto put = [&](int s, std::uint32_t w) { PutU32(graph.data(), 4 * s, w); };
    EXPECT_EQ(ScheduleValueInForce(graph.data(), 0, 12, 0), std::nullopt);
    // Slots out of time order: slot 0 weekdays 22:00 -> 0, slot 1 weekdays 06:00 -> 1.
    put(0, Word(0x00, 0x22, 0x1F, 0x00));
    put(1, Word(0x00, 0x06, 0x1F, 0x01));
    EXPECT_EQ(ScheduleValueInForce(graph.data(), 0, 6, 0), 1);   // exactly at 06:00 counts
    EXPECT_EQ(ScheduleValueInForce(graph.data(), 0, 5, 59), 0);  // Monday early: Friday 22:00
    EXPECT_EQ(ScheduleValueInForce(graph.data(), 2, 21, 59), 1);
    EXPECT_EQ(ScheduleValueInForce(graph.data(), 6, 12, 0), 0);  // Sunday: Friday 22:00
    // Same moment in a higher slot wins.
    put(5, Word(0x00, 0x06, 0x01, 0x7F));
    EXPECT_EQ(ScheduleValueInForce(graph.data(), 0, 6, 0), 127);
    EXPECT_EQ(ScheduleValueInForce(graph.data(), 1, 6, 0), 1);
    // An entry with a time that is no time of day takes no effect.
    put(6, Word(0x00, 0x25, 0x7F, 0x09));
    EXPECT_EQ(ScheduleValueInForce(graph.data(), 3, 23, 59), 0);
}

}  // namespace
}  // namespace vir05
