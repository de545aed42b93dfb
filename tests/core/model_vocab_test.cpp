// Parameter sources, error texts and event names.
#include <gtest/gtest.h>

#include "model/vocab.h"

namespace vir05 {
namespace {

TEST(ModelVocab, SourceNamesFollowTheStoredScheme) {
    const auto low = SourceList(3);
    const auto high = SourceList(4);
    EXPECT_EQ(low[0], "нет");
    EXPECT_EQ(low[1], "T11");
    EXPECT_EQ(low[6], "(T11+T2)/2");
    EXPECT_EQ(low[7], "(T11+T21)/2");
    EXPECT_EQ(high[1], "T3");
    EXPECT_EQ(high[6], "(T3+T2)/2");
    EXPECT_EQ(high[7], "(T3+T21)/2");
    const char* rest[] = {"T2", "Tк", "Tн", "T21"};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(low[2 + i], rest[i]);
    EXPECT_EQ(SourceName(7, 0), "G1");
    EXPECT_EQ(SourceName(8, 0), "P1");
    EXPECT_EQ(SourceName(10, 0), "P3");
    EXPECT_EQ(SourceName(11, 0), "График");
    EXPECT_EQ(SourceName(12, 0), "Выключен");
    EXPECT_EQ(SourceName(13, 0), "Включен");
    EXPECT_EQ(SourceName(14, 0), "dTцрк");
    EXPECT_EQ(SourceName(15, 0), "");
    EXPECT_EQ(SourceName(-2, 0), "");
    // The T of "Tк" and "Tн" is Latin.
    EXPECT_EQ(SourceName(2, 0).substr(0, 1), "T");
}

TEST(ModelVocab, ErrorTextsInBitOrder) {
    EXPECT_TRUE(ErrorTexts(0xC000).empty());
    const auto two = ErrorTexts(0x2001);
    ASSERT_EQ(two.size(), 2u);
    EXPECT_EQ(two[0], "Ошибка Т1");
    EXPECT_EQ(two[1], "Разорван сигнальный контакт");
    EXPECT_EQ(ErrorTexts(0x3FFF).size(), 14u);
    EXPECT_EQ(ErrorTexts(0x0800)[0], "Аварийное открывание клапана");
}

TEST(ModelVocab, EventNames) {
    struct Case {
        std::uint8_t code;
        const char* name;
    } cases[] = {
        {255, "Выключение"},
        {0x05, "Руч.упрNконтур"},
        {0x85, "Руч.упрNконтур к2"},
        {0x64, ""},
        {0xE4, " к2"},
        {0, "Включен"},
        {45, "Tлин   "},
        {47, "ТConst "},
        {99, "MD_ARCH"},
        {0x80 | 26, "Битрейт к2"},
        {60, "Ки2    "},
        {127, ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(EventName(c.code), c.name) << int(c.code);
    // "Tлин" starts with a Latin T, "ТConst" with a Cyrillic one.
    EXPECT_EQ(kEventNameTable[45][0], 'T');
    EXPECT_EQ(kEventNameTable[47].substr(0, 2), "Т");
    // Every name fits the controller's 17-byte entry in its single-byte code page.
    for (std::string_view n : kEventNameTable) {
        std::size_t chars = 0;
        for (unsigned char ch : n)
            chars += (ch & 0xC0) != 0x80;
        EXPECT_LE(chars, 16u) << n;
    }
}

}  // namespace
}  // namespace vir05
