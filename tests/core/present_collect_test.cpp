// The collect: controls back into the image, byte for byte, and the round trip with the
// presentation.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <functional>
#include <memory>

#include "core/present/cp1251.h"
#include "core/present/present.h"
#include "model/bytes.h"
#include "model/layout.h"
#include "sim/generator.h"

namespace vir05 {
namespace {

std::string Hex(const std::uint8_t* p, int from, int count) {
    static const char* d = "0123456789ABCDEF";
    std::string s;
    for (int i = 0; i < count; ++i) {
        if (i) s += ' ';
        s += d[p[from + i] >> 4];
        s += d[p[from + i] & 15];
    }
    return s;
}

class PresentCollectTest : public ::testing::Test {
  protected:
    std::unique_ptr<MemoryAreas> areas = std::make_unique<MemoryAreas>();
    PresentationState state;
    ControlState controls;

    std::uint8_t* img() { return areas->DeviceImage(); }

    void Generate(int circuits) {
        sim::GeneratorOptions o;
        o.circuits = circuits;
        sim::GenerateContents(o, areas->DeviceImage(), areas->ArchiveImage());
    }
    void Present() {
        controls.clear();
        PresentImage(*areas, state, controls);
    }
    bool Collect(std::string* failed = nullptr) {
        return CollectControls(controls, *areas, failed);
    }
};

TEST_F(PresentCollectTest, GeneratedImageSurvivesPresentAndCollectUnchanged) {
    for (const int circuits : {1, 2}) {
        Generate(circuits);
        for (const int shown : {0, 1}) {
            areas->SelectedCircuit = shown;
            std::array<std::uint8_t, kImageSize> before;
            std::memcpy(before.data(), img(), kImageSize);
            Present();
            ASSERT_TRUE(Collect());
            for (int a = 0; a < static_cast<int>(kImageSize); ++a)
                ASSERT_EQ(img()[a], before[a])
                    << "address " << a << ", circuits " << circuits << ", shown " << shown;
        }
    }
}

// Values the controls cannot show exactly come back as shown; a second round changes nothing.
TEST_F(PresentCollectTest, RoundTripStoresWhatTheControlsShow) {
    Generate(2);
    const int r = CircuitRecordAddr(0);
    PutI16(img(), r + rec::TConst, 2150);                 // 21.50 °C in a whole-degree field
    PutU32(img(), r + rec::TimeRC, 90);                   // 90 s in a minutes field
    PutU32(img(), r + rec::TimeAntiMud, 3 * 86400 + 50);  // days
    PutI16(img(), r + rec::KlapManual, 100);              // not one of the button codes
    PutF32(img(), r + rec::K1_I, 0.123456f);              // two decimals
    PutI32(img(), addr::DevNumber, 123);                  // below the serial range
    img()[r + rec::Scheme] = 9;                           // no such item
    Present();
    ASSERT_TRUE(Collect());
    EXPECT_EQ(I16(img(), r + rec::TConst), 2200);
    EXPECT_EQ(U32(img(), r + rec::TimeRC), 120u);
    EXPECT_EQ(U32(img(), r + rec::TimeAntiMud), 3u * 86400);
    EXPECT_EQ(I16(img(), r + rec::KlapManual), 6000);
    EXPECT_EQ(F32(img(), r + rec::K1_I), 0.12f);
    EXPECT_EQ(I32(img(), addr::DevNumber), 500001);
    EXPECT_EQ(img()[r + rec::Scheme], 0xFF);  // no selection

    std::array<std::uint8_t, kImageSize> once;
    std::memcpy(once.data(), img(), kImageSize);
    Present();
    ASSERT_TRUE(Collect());
    EXPECT_EQ(std::memcmp(once.data(), img(), kImageSize), 0);
}

// One control edited after a presentation of a zeroed image; the bytes it stores.
TEST_F(PresentCollectTest, EachConversionStoresItsBytes) {
    const int r = CircuitRecordAddr(0);
    struct Case {
        const char* what;
        std::function<void(ControlState&)> edit;
        int address;
        const char* bytes;
    } cases[] = {
        {"CB_Addr 300: the low byte", [](ControlState& s) { s["CB_Addr"].text = "300"; },
         addr::NetAddress, "2C"},
        {"CB_Addr not a number", [](ControlState& s) { s["CB_Addr"].text = "abc"; },
         addr::NetAddress, "00"},
        {"CB_SysCount not a number", [](ControlState& s) { s["CB_SysCount"].text = "два"; },
         addr::NumSystems, "00"},
        {"AccTime -1", [](ControlState& s) { s["AccTime"].text = "-1"; }, addr::AccTime, "FF"},
        {"AD_out0 not a number: 255", [](ControlState& s) { s["AD_out0"].text = ""; }, addr::AD_out,
         "FF 00"},
        {"CB_Baud 115200", [](ControlState& s) { s["CB_Baud"].index = 4; }, addr::BaudIndex, "04"},
        {"SerialN", [](ControlState& s) { s["SerialN"].number = 512345; }, addr::DevNumber,
         "59 D1 07 00"},
        {"PinCode", [](ControlState& s) { s["PinCode"].text = "4629"; }, addr::PinCodeBcd, "29 46"},
        {"TimeOut_SECUR", [](ControlState& s) { s["TimeOut_SECUR"].number = 255; },
         addr::TimeOut_SECUR, "FF 00"},
        {"TemperatureK0 into all eight", [](ControlState& s) { s["TemperatureK0"].index = 2; },
         addr::SensorType, "02 02 02 02 02 02 02 02 00"},
        {"skip_firstAD 200 as one byte", [](ControlState& s) { s["skip_firstAD"].number = 200; },
         addr::SkipFirstAD, "C8"},
        // Circuit record.
        {"ParamReg2 no item: -2", [](ControlState& s) { s["ParamReg2"].index = -1; },
         r + rec::ParamReg2, "FE"},
        {"ParamReg first item: -1 (нет)", [](ControlState& s) { s["ParamReg"].index = 0; },
         r + rec::ParamReg, "FF"},
        {"ParmPomp1 item = code", [](ControlState& s) { s["ParmPomp1"].index = 14; },
         r + rec::ParmPomp1, "0E"},
        {"kod_scheme no item", [](ControlState& s) { s["kod_scheme"].index = -1; }, r + rec::Scheme,
         "FF"},
        {"TConst x 100", [](ControlState& s) { s["TConst"].number = 22; }, r + rec::TConst,
         "98 08"},
        {"TConst not yet shown: shown first", [](ControlState& s) { s["TConst"].number = 21.5; },
         r + rec::TConst, "98 08"},
        {"TConst2 negative", [](ControlState& s) { s["TConst2"].number = -128; }, r + rec::TConst2,
         "00 CE"},
        {"Param1AvarValue 0.53 stored as 53, not 52",
         [](ControlState& s) { s["Param1AvarValue"].number = 0.53; }, r + rec::Param1AvarValue,
         "35 00"},
        {"ParamPomp3ValueOff -99.99",
         [](ControlState& s) { s["ParamPomp3ValueOff"].number = -99.99; },
         r + rec::ParamPomp3ValueOff, "F1 D8"},
        {"LuftKlap 2.55", [](ControlState& s) { s["LuftKlap"].number = 2.55; }, r + rec::LuftKlap,
         "FF"},
        {"K1_P as a float", [](ControlState& s) { s["K1_P"].number = 1.5; }, r + rec::K1_P,
         "00 00 C0 3F"},
        {"TimeRC minutes x 60", [](ControlState& s) { s["TimeRC"].number = 2; }, r + rec::TimeRC,
         "78 00 00 00"},
        {"TimeAntiMud days x 86400", [](ControlState& s) { s["TimeAntiMud"].number = 7; },
         r + rec::TimeAntiMud, "80 3A 09 00"},
        {"TimeAntiMud beyond 32 bits saturates",
         [](ControlState& s) { s["TimeAntiMud"].number = 60000; }, r + rec::TimeAntiMud,
         "FF FF FF FF"},
        {"LenAntiMud beyond a byte saturates",
         [](ControlState& s) { s["LenAntiMud"].number = 300; }, r + rec::LenAntiMud, "FF"},
        {"TimeOnMinPomp straight into the global area",
         [](ControlState& s) { s["TimeOnMinPomp"].number = 60000; }, addr::TimeOnMinPomp,
         "60 EA 00 00"},
        {"AutoResrv ticked", [](ControlState& s) { s["AutoResrv"].checked = true; },
         r + rec::AutoResrv, "01"},
        {"KlapClose",
         [](ControlState& s) {
             s["KlapFree"].checked = false;
             s["KlapClose"].checked = true;
         },
         r + rec::KlapManual, "90 E8"},
        {"KlapOpen", [](ControlState& s) { s["KlapOpen"].checked = true; }, r + rec::KlapManual,
         "70 17"},
        {"Pomp3On and Pomp4Off drive their own fields",
         [](ControlState& s) {
             s["Pomp3On"].checked = true;
             s["Pomp4Off"].checked = true;
         },
         r + rec::Pomp1Manual, "00 00 01 FF"},
        {"Tnr", [](ControlState& s) { s["Tnr"].number = -26; }, r + rec::Tnr, "E6"},
    };
    for (const Case& c : cases) {
        std::memset(img(), 0, kImageSize);
        Present();
        c.edit(controls);
        ASSERT_TRUE(Collect()) << c.what;
        const int n = static_cast<int>((std::strlen(c.bytes) + 1) / 3);
        EXPECT_EQ(Hex(img(), c.address, n), c.bytes) << c.what;
    }
}

TEST_F(PresentCollectTest, PinTextToFourBcdDigits) {
    struct Case {
        const char* text;
        std::uint16_t bcd;
    } cases[] = {
        {"1234", 0x1234}, {"0042", 0x0042}, {"42", 0x0042},      // short: leading zeros
        {"", 0x0000},     {" 7 ", 0x0007},  {"123456", 0x1234},  // longer: the first four
        {"12a4", 0x1204},                                        // a non-digit contributes 0
        {"1й23", 0x1023},                                        // one character, one position
        {"ABCD", 0x0000},
    };
    for (const Case& c : cases)
        EXPECT_EQ(PinTextToBcd(c.text), c.bcd) << "'" << c.text << "'";

    // Through the presentation and back: the shown text stores the same BCD word.
    PutU16(img(), addr::PinCodeBcd, 0x0042);
    Present();
    EXPECT_EQ(controls["PinCode"].text, "0042");
    ASSERT_TRUE(Collect());
    EXPECT_EQ(U16(img(), addr::PinCodeBcd), 0x0042);
}

TEST_F(PresentCollectTest, GsmPhoneIsSixteenBytesPaddedWithZeros) {
    std::memset(img() + addr::GsmPhone, 0xEE, 16);
    Present();
    controls["Num_Secur"].text = "+79161234567";
    ASSERT_TRUE(Collect());
    // "+79161234567" then four zero bytes.
    EXPECT_EQ(Hex(img(), addr::GsmPhone, 16), "2B 37 39 31 36 31 32 33 34 35 36 37 00 00 00 00");

    controls["Num_Secur"].text = "12345678901234567890";
    ASSERT_TRUE(Collect());
    EXPECT_EQ(Hex(img(), addr::GsmPhone, 17), "31 32 33 34 35 36 37 38 39 30 31 32 33 34 35 36 00");
}

TEST_F(PresentCollectTest, GsmMessageEndsWithZeroAnd1A) {
    std::memset(img() + addr::GsmMessage, 0xEE, 107);
    Present();
    controls["Message_Secur"].text = "abc";
    ASSERT_TRUE(Collect());
    // "abc", zero, 0x1A; bytes after it stay as they were.
    EXPECT_EQ(Hex(img(), addr::GsmMessage, 6), "61 62 63 00 1A EE");

    controls["Message_Secur"].text = "Авария";  // the controller's code page
    ASSERT_TRUE(Collect());
    EXPECT_EQ(Hex(img(), addr::GsmMessage, 8), "C0 E2 E0 F0 E8 FF 00 1A");

    // Exactly 106 characters: 1324..1429, 0x1A at 1430, no zero byte.
    controls["Message_Secur"].text = std::string(106, 'x');
    ASSERT_TRUE(Collect());
    for (int a = addr::GsmMessage; a < addr::GsmMessageEnd; ++a)
        ASSERT_EQ(img()[a], 'x') << a;
    EXPECT_EQ(img()[addr::GsmMessageEnd], 0x1A);
    EXPECT_EQ(img()[addr::GsmMessageEnd + 1], 0x00);  // first calibration byte untouched

    // Longer: cut to 106.
    controls["Message_Secur"].text = std::string(105, 'y') + "zzzz";
    ASSERT_TRUE(Collect());
    EXPECT_EQ(Hex(img(), addr::GsmMessageEnd - 2, 4), "79 7A 1A 00");
    Present();
    EXPECT_EQ(controls["Message_Secur"].text, std::string(105, 'y') + "z");
}

TEST_F(PresentCollectTest, ArchivePeriodGoesTo310AndTheShownRecord) {
    areas->SelectedCircuit = 1;
    Present();
    controls["PeriodStat"].index = 5;
    ASSERT_TRUE(Collect());
    EXPECT_EQ(img()[310], 5);
    EXPECT_EQ(img()[525], 5);  // R+205 of circuit 2
}

TEST_F(PresentCollectTest, MissingControlDropsTheWorkingRecord) {
    Generate(2);
    const int r = CircuitRecordAddr(0);
    std::array<std::uint8_t, kCircuitRecordSize> record;
    std::memcpy(record.data(), img() + r, kCircuitRecordSize);
    for (const char* missing : {"TConst", "Pomp4Off", "T1r"}) {
        Present();
        controls["CB_Addr"].text = "7";
        controls["kod_scheme"].index = 3;
        controls.erase(missing);
        std::string failed;
        EXPECT_FALSE(Collect(&failed)) << missing;
        EXPECT_EQ(failed, missing);
        EXPECT_EQ(img()[addr::NetAddress], 7) << "global fields collected before stay";
        EXPECT_EQ(std::memcmp(img() + r, record.data(), kCircuitRecordSize), 0) << missing;
    }
    EXPECT_EQ(kCollectFailedCaption, "Ошибка: не все значения заполнены правильно");
}

TEST_F(PresentCollectTest, EditsOfBothCircuitsSurviveTheSwitch) {
    Generate(2);
    areas->SelectedCircuit = 0;
    Present();
    controls["TConst"].number = 30;
    ASSERT_TRUE(Collect());
    areas->SelectedCircuit = 1;
    Present();
    EXPECT_NE(controls["TConst"].number, 30);
    controls["TConst"].number = 45;
    controls["Pomp2On"].checked = true;
    ASSERT_TRUE(Collect());
    areas->SelectedCircuit = 0;
    Present();
    EXPECT_EQ(controls["TConst"].number, 30);
    EXPECT_EQ(I16(img(), CircuitField(0, rec::TConst)), 3000);
    EXPECT_EQ(I16(img(), CircuitField(1, rec::TConst)), 4500);
    EXPECT_EQ(I8(img(), CircuitField(1, rec::Pomp2Manual)), 1);
    EXPECT_EQ(I8(img(), CircuitField(0, rec::Pomp2Manual)), 0);
}

TEST(PresentKorr, MirrorSkipsMinusNinetyNineAndSettles) {
    const SpinSpec& korr = *FindSpinSpec("Korr");
    const SpinSpec& tconst = *FindSpinSpec("TConst");
    EXPECT_EQ(KorrMirror(22, 10, korr), 22);
    EXPECT_EQ(KorrMirror(-99, 10, korr), std::nullopt);  // the changed one is unreadable
    EXPECT_EQ(KorrMirror(22, -99, korr), std::nullopt);  // the other one is
    EXPECT_EQ(KorrMirror(22, 22, korr), std::nullopt);   // equal: no further change
    // Korr reaches 200, TConst only 150: TConst takes 150, and Korr then follows it back.
    const auto t = KorrMirror(180, 22, tconst);
    ASSERT_EQ(t, 150);
    EXPECT_EQ(KorrMirror(*t, 180, korr), 150);
    EXPECT_EQ(KorrMirror(150, 150, tconst), std::nullopt);
}

TEST(PresentCp1251, EveryByteSurvivesTheWayThroughUtf8) {
    std::string all;
    for (int b = 1; b < 256; ++b)
        all += static_cast<char>(b);
    EXPECT_EQ(Utf8ToCp1251(Cp1251ToUtf8(all)), all);
    EXPECT_EQ(Cp1251ToUtf8("\xC0\xFF\xA8\xB8"), "АяЁё");
    EXPECT_EQ(Utf8ToCp1251("€№"), "\x88\xB9");
    EXPECT_EQ(Utf8ToCp1251("中"), "?");      // not in the code page
    EXPECT_EQ(Utf8ToCp1251("a\xD0"), "a?");  // cut sequence
    EXPECT_EQ(Utf8ToCp1251("\xFF"
                           "b"),
              "?b");  // not UTF-8
}

}  // namespace
}  // namespace vir05
