// Number texts: the same whatever the computer's regional setting.
#include <gtest/gtest.h>

#include <clocale>

#include "core/format.h"

namespace vir05 {
namespace {

TEST(Format, TemperatureRealAndDecimal) {
    struct Case {
        int temp;
        const char* text;
    } temps[] = {{-10001, "---"}, {-10000, "-100"}, {20000, "200"},  {20001, "---"},
                 {2150, "21.5"},  {7, "0.07"},      {-543, "-5.43"}, {0, "0"},
                 {-32768, "---"}, {32767, "---"},   {1, "0.01"},     {-1, "-0.01"}};
    for (const Case& c : temps)
        EXPECT_EQ(FormatTemp(c.temp), c.text) << c.temp;

    EXPECT_EQ(FormatReal(-3), "-3");
    EXPECT_EQ(FormatReal(107 * 0.01), "1.07");
    EXPECT_EQ(FormatReal(0.1), "0.1");
    EXPECT_EQ(FormatDecimal(215 * 0.1), "21.5");
    EXPECT_EQ(FormatDecimal(-543 * 0.01), "-5.43");
    EXPECT_EQ(FormatDecimal(20), "20");
    EXPECT_EQ(FormatDecimal(-2048 * 0.1), "-204.8");
    EXPECT_EQ(FormatDecimal(-0.0), "0");
    EXPECT_EQ(FormatDecimal(1234567), "1.23457e+06");
}

TEST(Format, DecimalPointIgnoresTheLocale) {
    const char* old = std::setlocale(LC_ALL, nullptr);
    const std::string saved = old ? old : "C";
    if (std::setlocale(LC_ALL, "ru_RU.UTF-8") || std::setlocale(LC_ALL, "de_DE.UTF-8")) {
        EXPECT_EQ(FormatReal(21.5), "21.5");
        EXPECT_EQ(ParseReal("21.5").value_or(0), 21.5);
    } else {
        GTEST_SKIP() << "no locale with a decimal comma on this machine";
    }
    std::setlocale(LC_ALL, saved.c_str());
}

TEST(Format, HexTexts) {
    EXPECT_EQ(Hex2(0x00), "00");
    EXPECT_EQ(Hex2(0x7B), "7B");
    EXPECT_EQ(Hex2(0x59), "59");
    EXPECT_EQ(HexUpper(0x4629, 4), "4629");
    EXPECT_EQ(HexUpper(0x29, 4), "0029");
    EXPECT_EQ(HexUpper(0x1C000, 4), "1C000");
    EXPECT_EQ(HexUpper(0xabcdef, 1), "ABCDEF");
}

TEST(Format, ParseIntAcceptsOnlyWholeNumbers) {
    struct Case {
        const char* text;
        std::optional<std::int32_t> value;
    } cases[] = {{"0", 0},
                 {"17", 17},
                 {"-5", -5},
                 {"+3", 3},
                 {"", std::nullopt},
                 {"-", std::nullopt},
                 {"12a", std::nullopt},
                 {" 1", std::nullopt},
                 {"1.5", std::nullopt},
                 {"2147483647", 2147483647},
                 {"2147483648", std::nullopt},
                 {"+-1", std::nullopt},
                 {"0x10", std::nullopt}};
    for (const Case& c : cases)
        EXPECT_EQ(ParseInt(c.text), c.value) << c.text;
    EXPECT_EQ(ParseIntOr("abc", 9600), 9600);
    EXPECT_EQ(ParseReal("1e3").value_or(0), 1000.0);
    EXPECT_FALSE(ParseReal("21,5").has_value());
    EXPECT_FALSE(ParseReal("nan").has_value());
}

}  // namespace
}  // namespace vir05
