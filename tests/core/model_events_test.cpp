// The rows of the event grid.
#include <gtest/gtest.h>

#include <cstring>

#include "model/events.h"
#include "model/layout.h"

namespace vir05 {
namespace {

class EventGridTest : public ::testing::Test {
  protected:
    void SetUp() override { std::memset(archive_, 0xFF, sizeof archive_); }
    void Slot(int slot, std::initializer_list<std::uint8_t> bytes) {
        std::uint8_t* s = archive_ + 16 * slot;
        std::memset(s, 0, 16);
        int i = 0;
        for (std::uint8_t b : bytes)
            s[i++] = b;
    }
    static inline std::uint8_t archive_[kArchiveSize];
    EventStampFormat format_;
};

TEST_F(EventGridTest, RowsInSlotOrderWithTheirColumns) {
    // sec min hour day month year code pad new(LE) old(LE)
    Slot(3, {0x56, 0x34, 0x12, 0x07, 0x11, 0x25, 0x85, 0, 0x2C, 0x01, 0xEC, 0xFF});
    Slot(1, {0x00, 0x00, 0x00, 0x31, 0x12, 0x09, 255, 0, 0x01, 0x00, 0x02, 0x00});
    Slot(9, {0x05, 0x00, 0x08, 0x01, 0x01, 0x26, 0x64, 0, 0x00, 0x80, 0xFF, 0x7F});
    const auto rows = EventGridRows(archive_, format_);
    ASSERT_EQ(rows.size(), 3u);
    const EventGridRow first = {"0", "31.12.2009", "255", "Выключение", "1", "2", "", ""};
    const EventGridRow second = {
        "1", "07.11.2025 12:34:56", "133", "Руч.упрNконтур к2", "300", "-20", "", ""};
    const EventGridRow third = {"2", "01.01.2026 8:00:05", "100", "", "-32768", "32767", "", ""};
    EXPECT_EQ(rows[0], first);
    EXPECT_EQ(rows[1], second);
    EXPECT_EQ(rows[2], third);
}

TEST_F(EventGridTest, ErasedZeroedAndDamagedSlotsGiveNoRows) {
    Slot(0, {});                                       // zeroed
    Slot(1, {0x00, 0x00, 0x10, 0x32, 0x01, 0x25, 4});  // day 32
    Slot(2, {0x00, 0x00, 0x10, 0x30, 0x02, 0x25, 4});  // 30 February
    Slot(3, {0x60, 0x00, 0x10, 0x01, 0x01, 0x25, 4});  // second 60
    EXPECT_TRUE(EventGridRows(archive_, format_).empty());
    EXPECT_EQ(EventGridTitles()[0], "N");
    EXPECT_EQ(EventGridTitles()[3], "");
    EXPECT_EQ(EventGridTitles()[5], "Cтарое значение");
}

}  // namespace
}  // namespace vir05
