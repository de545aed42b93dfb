// The presentation pass: what every control shows for given image bytes.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <memory>

#include "core/present/fields.h"
#include "core/present/present.h"
#include "model/bytes.h"
#include "model/layout.h"
#include "sim/generator.h"

namespace vir05 {
namespace {

class PresentImageTest : public ::testing::Test {
  protected:
    std::unique_ptr<MemoryAreas> areas = std::make_unique<MemoryAreas>();
    PresentationState state;
    ControlState out;

    std::uint8_t* img() { return areas->DeviceImage(); }
    // Absolute address of a field of circuit c.
    static int R(int c, int offset) { return CircuitField(c, offset); }

    const ControlState& Present() {
        PresentImage(*areas, state, out);
        return out;
    }
    const ControlValue& Get(const std::string& name) {
        const auto it = out.find(name);
        if (it == out.end()) throw std::runtime_error("not set: " + name);
        return it->second;
    }
    std::string Text(const std::string& name) { return Get(name).text; }
};

TEST_F(PresentImageTest, SystemCountShowsTheStoredByteWhileTheSnapshotIsNormalised) {
    for (const int n : {0, 1, 2, 3, 255}) {
        img()[addr::NumSystems] = static_cast<std::uint8_t>(n);
        Present();
        EXPECT_EQ(Text("CB_SysCount"), std::to_string(n));
        EXPECT_EQ(state.snapshot.NumSystems(), n == 1 ? 1 : 2) << n;
    }
}

TEST_F(PresentImageTest, PinCodeAlwaysHasFourDigitsTopNibbleFirst) {
    struct Case {
        std::uint16_t bcd;
        const char* text;
    } cases[] = {
        {0x1234, "1234"}, {0x0042, "0042"}, {0x0000, "0000"}, {0x4629, "4629"}, {0xABCD, "ABCD"}};
    for (const Case& c : cases) {
        PutU16(img(), addr::PinCodeBcd, c.bcd);
        EXPECT_EQ(Present().at("PinCode").text, c.text);
    }
}

TEST_F(PresentImageTest, ClockAndIdentityPanels) {
    // 10:15:42, day 10, month 12, year 26 in BCD; weekday 4.
    const std::uint8_t clock[] = {0x42, 0x15, 0x10, 0x04, 0x10, 0x12, 0x26};
    std::memcpy(img(), clock, sizeof clock);
    PutI32(img(), addr::OperatingTime, 719);
    PutU16(img(), addr::SoftVer, 106);
    PutI32(img(), addr::DevNumber, 123);
    Present();
    EXPECT_EQ(Text("PanelTime"), "10:15:42");
    EXPECT_EQ(Text("PanelDate"), "10/12/2026 Чт");
    EXPECT_EQ(Text("PanelTall"), "В.р  0.1 ч");  // 719 div 360 = 1, times 0.1
    EXPECT_EQ(Text("PanelVersion"), "Версия ПО 1.06");
    EXPECT_EQ(Text("PanelSerial"), "S/N 123");
    EXPECT_EQ(Get("SerialN").number, 500001);  // the edit field keeps to its range

    // Sunday as a clock write stores it (0) and any other unknown day: no name after the blank.
    for (const std::uint8_t day : {0, 8, 0xFF}) {
        img()[addr::ClockWeekday] = day;
        EXPECT_EQ(Present().at("PanelDate").text, "10/12/2026 ");
    }
    img()[addr::ClockWeekday] = 7;
    EXPECT_EQ(Present().at("PanelDate").text, "10/12/2026 Вс");

    PutI32(img(), addr::OperatingTime, -719);
    EXPECT_EQ(Present().at("PanelTall").text, "В.р  -0.1 ч");  // division toward zero
}

TEST_F(PresentImageTest, ServiceValuesAndHiddenExchangeFields) {
    img()[addr::NetAddress] = 200;
    img()[addr::BaudIndex] = 3;
    img()[addr::AccTime] = 0xFF;  // int8: -1
    img()[addr::SensorType] = 0x06;
    PutU32(img(), addr::ArchPos, 0x4A0);
    const std::uint8_t adIn[] = {0x00, 0x01, 0x02, 123};
    std::memcpy(img() + addr::AD_in, adIn, 4);
    img()[addr::AD_out + 2] = 77;
    img()[addr::AD_line2] = 5;
    Present();
    EXPECT_EQ(Text("CB_Addr"), "200");
    EXPECT_EQ(Get("CB_Baud").index, 3);
    EXPECT_EQ(Text("CB_Baud"), "38400");
    EXPECT_EQ(Text("AccTime"), "-1");
    EXPECT_EQ(Get("TemperatureK0").index, 2);  // 6 AND 3
    EXPECT_EQ(Text("ArchPos"), "04A0");
    EXPECT_EQ(Text("AD_in3"), "123 0x7B");
    EXPECT_EQ(Text("AD_in1"), "1 0x01");
    EXPECT_EQ(Text("AD_out2"), "77");
    EXPECT_FALSE(Get("AD_line").checked);
    EXPECT_TRUE(Get("AD_line2").checked);

    // ADelta: the three bytes as one number against the previous pass.
    EXPECT_EQ(Text("ADelta"), "258");  // 0x000102 - 0
    img()[addr::AD_in + 2] = 0x00;
    EXPECT_EQ(Present().at("ADelta").text, "-2");  // 0x000100 - 0x000102
    EXPECT_EQ(Present().at("ADelta").text, "0");

    img()[addr::BaudIndex] = 5;  // beyond the list
    Present();
    EXPECT_EQ(Get("CB_Baud").index, -1);
    EXPECT_EQ(Text("CB_Baud"), "");
}

TEST_F(PresentImageTest, ServiceMemosLineByLine) {
    PutF32(img(), addr::Ktsp, 0.00390625f);  // 2^-8, held exactly
    PutF32(img(), addr::Ktsp + 4, -0.00390625f);
    PutF32(img(), addr::Ktsp + 8, std::numeric_limits<float>::quiet_NaN());
    PutF32(img(), addr::Ktsp + 12, std::numeric_limits<float>::infinity());
    PutI32(img(), addr::addR0 + 28, -12);
    PutI16(img(), R(0, rec::TimeMaxAngle), -5);
    PutF32(img(), R(0, rec::MaxAngle), 0.7859f);
    img()[addr::RST_Tdls] = 0xFE;
    PutF32(img(), addr::Rtsp, 515.6789f);
    PutF32(img(), addr::Ttsp + 4, -12.3456f);
    img()[addr::t_cnt + 7] = 200;
    PutI32(img(), addr::Adc + 4, -100);
    PutU32(img(), addr::Ad_diviation, 0xFFFFFFFF);
    PutI16(img(), addr::t_err, -3);
    Present();

    const std::string rt2 = Text("Clbr_rt2");
    EXPECT_TRUE(rt2.starts_with("Kтсп1=390625\nKтсп2=-390625\n")) << rt2;
    // A calibration word that is not a number shows 0; one too large, the largest integer.
    EXPECT_NE(rt2.find("\nKтсп3=0\nKтсп4=9223372036854775807\n"), std::string::npos) << rt2;
    EXPECT_NE(rt2.find("\naddR0тсп8=-12\n\nBaseValueAutoKp=0\n"), std::string::npos) << rt2;
    EXPECT_NE(rt2.find("\nTimeMaxAngle=-5\nDeltaMaxAngle=0\nMaxAngle=0.785\nRST_Tdls=-2\n"
                       "Out_Tdls=0"),
              std::string::npos)
        << rt2;
    EXPECT_TRUE(rt2.ends_with("Out_Tdls=0")) << rt2;

    const std::string rt = Text("Clbr_rt");
    EXPECT_TRUE(rt.starts_with("\nRтсп1=515.678\nRтсп2=0\n")) << rt;
    EXPECT_NE(rt.find("\nTтсп2=-12.345\n"), std::string::npos) << rt;
    EXPECT_NE(rt.find("\nt_cnt8=200\n\nAdc1=0\nAdc2=-100\n"), std::string::npos) << rt;
    EXPECT_NE(rt.find("\nAd_diviation1=4294967295\n"), std::string::npos) << rt;
    EXPECT_TRUE(rt.ends_with("\n\nt_err=-3\nt_cfg=0")) << rt;
    // 1 + 5 groups of 8 lines with a blank after each + 2 lines.
    EXPECT_EQ(std::count(rt.begin(), rt.end(), '\n') + 1, 1 + 5 * 9 + 2);
}

TEST_F(PresentImageTest, TemperaturesAndRegulationTime) {
    const int r = CircuitRecordAddr(0);
    PutI16(img(), r + rec::T11, -10001);
    PutI16(img(), r + rec::T2, -10000);
    PutI16(img(), r + rec::Tk, 2150);
    PutI16(img(), r + rec::Tn, 20001);
    PutI16(img(), r + rec::T21, 7);
    PutI16(img(), r + rec::TnHour, -543);
    PutU16(img(), r + rec::CalcTo, 0xFFFF);  // read unsigned: "---", not -0.01
    PutU16(img(), r + rec::CalcTp, 5000);
    PutI16(img(), r + rec::KlT, -15);
    // RegAccum high half 0x8000, RegBase 1: the difference wraps to +32767 in 16 bits.
    PutU32(img(), r + rec::RegAccum, 0x80001234);
    PutI16(img(), r + rec::RegBase, 1);
    Present();
    EXPECT_EQ(Text("ValT0"), "---");
    EXPECT_EQ(Text("ValT1"), "-100");
    EXPECT_EQ(Text("ValT2"), "21.5");
    EXPECT_EQ(Text("ValT3"), "---");
    EXPECT_EQ(Text("ValT4"), "0.07");
    EXPECT_EQ(Text("Tn_h"), "-5.43");
    EXPECT_EQ(Text("Tn_d"), "0");
    EXPECT_EQ(Text("CalcTo"), "---");
    EXPECT_EQ(Text("CalcTp"), "50");
    EXPECT_EQ(Text("KlT"), "-1.5");
    EXPECT_EQ(Text("treg"), "327.67");
    PutU32(img(), r + rec::RegAccum, 0x00100000);
    PutI16(img(), r + rec::RegBase, 5);
    EXPECT_EQ(Present().at("treg").text, "0.11");
}

TEST_F(PresentImageTest, SetpointPanelsAndTheSecondPair) {
    struct Case {
        std::uint8_t scheme;
        std::int16_t klapManual;
        std::uint8_t autoOff;
        std::int8_t paramReg2;
        const char* base;
        const char* base2;
        bool secondShown;
    } cases[] = {
        {0, 0, 0, 1, "---", "---", false},  // circuit switched off: "---" whatever the values
        {1, 0, 0, 1, "55", "40", true},     //
        {1, 0, 0, -1, "55", "---", false},  // no second parameter: the pair is hidden
        {1, 6000, 0, 1, "---", "---", false}, {1, 0, 1, 1, "---", "---", false},
    };
    const int r = CircuitRecordAddr(0);
    PutI16(img(), r + rec::Base, 5500);
    PutI16(img(), r + rec::Real, 5450);
    PutI16(img(), r + rec::Base2, 4000);
    PutI16(img(), r + rec::Real2, 3990);
    for (const Case& c : cases) {
        img()[r + rec::Scheme] = c.scheme;
        PutI16(img(), r + rec::KlapManual, c.klapManual);
        img()[r + rec::AutoCtrlOff] = c.autoOff;
        PutI8(img(), r + rec::ParamReg2, c.paramReg2);
        Present();
        SCOPED_TRACE(std::to_string(c.scheme) + " " + std::to_string(c.klapManual) + " " +
                     std::to_string(c.autoOff) + " " + std::to_string(c.paramReg2));
        EXPECT_EQ(Text("PanelBase"), c.base);
        EXPECT_EQ(Text("PanelBase2"), c.base2);
        EXPECT_EQ(Text("PanelReal"), std::string(c.base) == "---" ? "---" : "54.5");
        EXPECT_EQ(Text("PanelReal2"), c.secondShown ? "39.9" : "---");
        for (const char* name : {"PanelBase2", "PanelReal2", "PanelBase2L", "PanelReal2L"})
            EXPECT_EQ(Get(name).visible, c.secondShown) << name;
        EXPECT_TRUE(Get("PanelBase").visible);
        EXPECT_EQ(Text("PanelBase2L"), "Задание2");
    }
}

TEST_F(PresentImageTest, SourceListsFollowTheStoredSchemeAndCodes) {
    const int r = CircuitRecordAddr(0);
    img()[r + rec::Scheme] = 4;
    PutI8(img(), r + rec::ParamReg, -1);
    PutI8(img(), r + rec::ParamReg2, 14);
    PutI8(img(), r + rec::Param1AvarCfg, 15);  // no such code
    PutI8(img(), r + rec::Param2AvarCfg, -2);  // nor this
    img()[r + rec::ParmPomp1] = 14;
    img()[r + rec::ParmPomp3] = 15;
    Present();
    ASSERT_EQ(Get("ParamReg").items.size(), 16u);
    EXPECT_EQ(Get("ParamReg").items[0], "нет");
    EXPECT_EQ(Get("ParamReg").items[1], "T3");
    EXPECT_EQ(Get("ParamReg").items[6], "(T3+T2)/2");
    ASSERT_EQ(Get("ParmPomp1").items.size(), 15u);
    EXPECT_EQ(Get("ParmPomp1").items[0], "T3");
    EXPECT_EQ(Get("ParmPomp3").items, Get("ParmPomp1").items);
    EXPECT_EQ(Get("ParamReg").index, 0);
    EXPECT_EQ(Get("ParamReg2").index, 15);
    EXPECT_EQ(Get("Param1AvarCfg").index, -1);
    EXPECT_EQ(Get("Param2AvarCfg").index, -1);
    EXPECT_EQ(Get("ParmPomp1").index, 14);
    EXPECT_EQ(Get("ParmPomp3").index, -1);
    EXPECT_EQ(Get("kod_scheme").index, 4);
    EXPECT_EQ(Text("kod_scheme"), "2.1 Циркуляционная система ГВС");

    img()[r + rec::Scheme] = 3;
    EXPECT_EQ(Present().at("ParamReg").items[1], "T11");
}

TEST_F(PresentImageTest, ConfigurationDividedByItsScales) {
    const int r = CircuitRecordAddr(0);
    PutI16(img(), r + rec::TConst, 2150);
    PutU32(img(), r + rec::TimeRC, 90);
    PutU32(img(), r + rec::TimeAntiMud, 7 * 86400 + 5);
    PutI16(img(), r + rec::LimitTOConst, -1234);
    img()[r + rec::LuftKlap] = 255;
    PutF32(img(), r + rec::K1_P, 2.25f);
    img()[r + rec::Tfrost] = 200;  // a byte the 0..255 field shows as it is
    PutU16(img(), addr::TimeOnMinPomp, 60000);
    PutU16(img(), r + rec::WorkCnt1, 90);
    img()[r + rec::AntiMud] = 7;
    img()[addr::PeriodStat] = 6;
    Present();
    EXPECT_EQ(Get("TConst").number, 22);
    EXPECT_EQ(Get("Korr").number, 22);  // the mirror on the current-values page
    EXPECT_EQ(Get("TimeRC").number, 2);
    EXPECT_EQ(Get("TimeAntiMud").number, 7);
    EXPECT_EQ(Text("TimeAntiMudSec"), "604805");
    EXPECT_DOUBLE_EQ(Get("LimitTOConst").number, -12.34);
    EXPECT_DOUBLE_EQ(Get("LuftKlap").number, 2.55);
    EXPECT_DOUBLE_EQ(Get("K1_P").number, 2.25);
    EXPECT_EQ(Get("Tfrost").number, 200);
    EXPECT_EQ(Get("TimeOnMinPomp").number, 60000);
    EXPECT_EQ(Text("WorkCnt1"), "1.5");
    EXPECT_TRUE(Get("AntiMud").checked);
    EXPECT_FALSE(Get("RCmode").checked);
    EXPECT_EQ(Get("PeriodStat").index, 6);

    PutI16(img(), r + rec::TConst, -9900);
    Present();
    EXPECT_EQ(Get("TConst").number, -99);
    EXPECT_EQ(Get("Korr").number, 22);  // -99 is not copied
}

// The minutes to the next pump switch, from a counter of seconds: to a tenth of a minute.
TEST_F(PresentImageTest, MinutesToTheSwitchToATenth) {
    const int r = CircuitRecordAddr(0);
    const struct {
        std::uint16_t seconds;
        const char* want;
    } cases[] = {{26246, "437.4"}, {120, "2"}, {65535, "1092.3"}, {0, "0"}, {3, "0.1"}};
    for (const auto& c : cases) {
        PutU16(img(), r + rec::WorkCnt1, c.seconds);
        Present();
        EXPECT_EQ(Text("WorkCnt1"), c.want) << c.seconds;
    }
}

TEST_F(PresentImageTest, ManualControlButtons) {
    struct Case {
        std::int16_t klap;
        const char* chosen;
    } valve[] = {{-6000, "KlapClose"},
                 {-1, "KlapClose"},
                 {0, "KlapFree"},
                 {6000, "KlapOpen"},
                 {100, "KlapOpen"}};
    const int r = CircuitRecordAddr(0);
    for (const Case& c : valve) {
        PutI16(img(), r + rec::KlapManual, c.klap);
        Present();
        for (const char* b : {"KlapClose", "KlapFree", "KlapOpen"})
            EXPECT_EQ(Get(b).checked, std::string(b) == c.chosen) << c.klap << " " << b;
    }
    // Each pump's field drives its own buttons.
    PutI8(img(), r + rec::Pomp1Manual, 0);
    PutI8(img(), r + rec::Pomp2Manual, 1);
    PutI8(img(), r + rec::Pomp3Manual, -1);
    PutI8(img(), r + rec::Pomp4Manual, 1);
    img()[r + rec::AutoCtrlOff] = 3;
    Present();
    EXPECT_TRUE(Get("Pomp1Auto").checked);
    EXPECT_FALSE(Get("Pomp1On").checked);
    EXPECT_TRUE(Get("Pomp2On").checked);
    EXPECT_TRUE(Get("Pomp3Off").checked);
    EXPECT_FALSE(Get("Pomp3On").checked);
    EXPECT_TRUE(Get("Pomp4On").checked);
    EXPECT_FALSE(Get("Pomp4Off").checked);
    EXPECT_TRUE(Get("AutoCtrlOff").checked);
}

TEST_F(PresentImageTest, GsmTextsLeaveZeroBytesOutAndStopAt1A) {
    const char phone[16] = {'+', '7', 0, '9', '1', '6'};
    std::memcpy(img() + addr::GsmPhone, phone, 16);
    // No 0x1A anywhere in 1324..1430: all 107 bytes, zeros left out.
    for (int a = addr::GsmMessage; a <= addr::GsmMessageEnd; ++a)
        img()[a] = static_cast<std::uint8_t>(a % 3 == 0 ? 0 : 'a' + a % 26);
    img()[addr::GsmMessageEnd + 1] = 'X';  // beyond the message area: never read
    Present();
    EXPECT_EQ(Text("Num_Secur"), "+7916");
    std::string expected;
    for (int a = addr::GsmMessage; a <= addr::GsmMessageEnd; ++a)
        if (a % 3) expected += static_cast<char>('a' + a % 26);
    EXPECT_EQ(Text("Message_Secur"), expected);

    // Text, zero, 0x1A; controller bytes in the Cyrillic code page.
    const std::uint8_t msg[] = {0xC0, 0xE2, 0xE0, 0xF0, 0xE8, 0xFF, ' ', '1', 0x00, 0x1A, 'z'};
    std::memcpy(img() + addr::GsmMessage, msg, sizeof msg);
    img()[addr::GsmMode] = 3;
    Present();
    EXPECT_EQ(Text("Message_Secur"), "Авария 1");
    EXPECT_EQ(Get("users_buf0").index, 3);
    img()[addr::GsmMode] = 9;
    EXPECT_EQ(Present().at("users_buf0").index, -1);
}

TEST_F(PresentImageTest, SecondCircuitReadsItsRecordAndCounters) {
    img()[R(0, rec::Inputs)] = 0b0000'0011;  // circuit 1: Pc and Pр
    img()[R(1, rec::Inputs)] = 0b1010'0100;  // circuit 2: Pп, pumps 2 and 4
    PutI16(img(), R(1, rec::T11), 4321);
    img()[R(1, rec::PompErr)] = 2;
    PutU16(img(), R(1, rec::Errors), 0x2001);
    PutI16(img(), addr::CntOffKp + 2, -7);
    img()[addr::DivideTi + 1] = 9;
    img()[addr::cnt_bigTi + 1] = 0x80;
    img()[R(1, rec::KlapPercent)] = 0xF6;
    areas->SelectedCircuit = 1;
    Present();
    EXPECT_EQ(state.selectedCircuit, 1);
    EXPECT_EQ(Text("ValT0"), "43.21");
    EXPECT_EQ(Text("Pomp1"), "0");
    EXPECT_EQ(Text("Pomp2"), "1");
    EXPECT_EQ(Text("Pomp3"), "0");
    EXPECT_EQ(Text("Pomp4"), "1");
    EXPECT_EQ(Text("RelePomps"), "10");
    EXPECT_FALSE(Get("DP1").checked);
    EXPECT_FALSE(Get("DP2").checked);
    EXPECT_TRUE(Get("DP3").checked);
    EXPECT_TRUE(Get("DP12").checked);  // from the other circuit's inputs
    EXPECT_TRUE(Get("DP22").checked);
    EXPECT_FALSE(Get("ErrPomp1").checked);
    EXPECT_TRUE(Get("ErrPomp2").checked);
    EXPECT_EQ(Text("TextError"), "Ошибка Т1\nРазорван сигнальный контакт");
    EXPECT_EQ(Text("CntOffKp"), "-7");
    EXPECT_EQ(Text("DivideTi"), "9");
    EXPECT_EQ(Text("cnt_bigTi"), "-128");
    EXPECT_EQ(Text("PercentKlap"), "-10");

    // A circuit number that does not exist shows the first circuit instead of reading past
    // the records.
    areas->SelectedCircuit = 7;
    Present();
    EXPECT_EQ(state.selectedCircuit, 0);
    EXPECT_EQ(Text("ValT0"), "0");
    EXPECT_EQ(Text("TextError"), "");
}

// Any byte pattern gives a state: every numeric field within its range, every list either
// without a selection or on one of its items.
TEST_F(PresentImageTest, AnyBytePatternStaysWithinTheControls) {
    for (const std::uint8_t fill : {0xFF, 0x80, 0x7F, 0xA5}) {
        std::memset(img(), fill, kImageSize);
        for (int c = 0; c < 2; ++c) {
            areas->SelectedCircuit = c;
            out.clear();
            Present();
            SCOPED_TRACE(std::to_string(fill) + " circuit " + std::to_string(c));
            for (const SpinSpec& s : kSpinSpecs) {
                const double v = Get(std::string(s.name)).number;
                EXPECT_GE(v, s.minimum) << s.name;
                EXPECT_LE(v, s.maximum) << s.name;
            }
            for (const ListSpec& l : kListSpecs) {
                const ControlValue& v = Get(std::string(l.name));
                EXPECT_GE(v.index, -1) << l.name;
                EXPECT_LT(v.index, present_detail::ListCount(l)) << l.name;
            }
        }
    }
    std::memset(img(), 0xFF, kImageSize);
    Present();
    EXPECT_EQ(Get("kod_scheme").index, -1);
    EXPECT_EQ(Get("ParamReg").index, 0);  // 0xFF is code -1, "нет"
    EXPECT_EQ(Get("ParmPomp1").index, -1);
    EXPECT_EQ(Get("TConst").number, 0);           // 0xFFFF is -1 hundredth
    EXPECT_EQ(Get("SerialN").number, 500001);     // -1
    EXPECT_EQ(Get("TimeAntiMud").number, 49710);  // 4294967295 s
    EXPECT_EQ(Get("LenAntiMud").number, 255);
}

}  // namespace
}  // namespace vir05
