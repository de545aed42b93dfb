// The window's numeric fields, lists and bindings: how a field shows and reads a value, and that
// the tables fit the memory map.
#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <string>

#include "core/present/fields.h"
#include "core/present/present.h"
#include "model/layout.h"

namespace vir05 {
namespace {

const SpinSpec& Spin(std::string_view name) {
    const SpinSpec* s = FindSpinSpec(name);
    if (!s) throw std::runtime_error("no spin " + std::string(name));
    return *s;
}

TEST(PresentSpin, ShowClampsAndRoundsByKind) {
    struct Case {
        const char* field;
        double value;
        double shown;
    } cases[] = {
        {"TConst", 21.5, 22},        // whole: halves to the even neighbour
        {"TConst", 22.5, 22},        //
        {"TConst", 23.5, 24},        //
        {"TConst", -0.4, 0},         // no "-0" either
        {"TConst", 1000, 150},       // above the range: the maximum
        {"TConst", -1000, -99},      // below: the minimum
        {"SerialN", 123, 500001},    // a serial number of 123 shows the first valid one
        {"Korr", 180, 180},          // the mirror's range is wider than TConst's
        {"LuftKlap", 3, 2.55},       // decimal maximum
        {"K1_P", 0.123456, 0.1235},  // four decimals
        {"K1_P", -70000, -65000},    //
        {"K2_P", -1, 0},             // additional loop coefficients are not negative
        {"K1_I", 0.535, 0.54},       // 0.535 is held as 0.53500000000000003
        {"ParamPomp3ValueOff", -100, -99.99},
        {"Param1AvarValue", 0.53, 0.53},
        {"TimeAntiMud", 7.4, 7},  // decimal with no decimals
        {"Tnr", -128.4, -128},
        {"TConst", std::nan(""), -99},  // not a number: the minimum
        {"TConst", INFINITY, 150},
    };
    for (const Case& c : cases)
        EXPECT_DOUBLE_EQ(SpinShow(Spin(c.field), c.value), c.shown) << c.field << " " << c.value;
    EXPECT_FALSE(std::signbit(SpinShow(Spin("TConst"), -0.4)));
}

TEST(PresentSpin, TypedTextReadsAsShownOrMinimum) {
    struct Case {
        const char* field;
        const char* text;
        double value;
    } cases[] = {
        {"TConst", "21.7", 22},        {"TConst", " 21.4 ", 21}, {"TConst", "abc", -99},
        {"TConst", "", -99},           {"LuftKlap", "1,5", 0},   {"LuftKlap", "1.234", 1.23},
        {"SerialN", "600000", 599999}, {"K2_P", "-5", 0},        {"TimeRC", "2e3", 2000},
        {"LimitTOConst", "-inf", -99},  // not a finite number: unreadable
    };
    for (const Case& c : cases)
        EXPECT_DOUBLE_EQ(SpinRead(Spin(c.field), c.text), c.value) << c.field << " '" << c.text;
}

TEST(PresentSpin, TextHasTheFieldsDecimalsAndAPoint) {
    EXPECT_EQ(SpinText(Spin("TConst"), 22), "22");
    EXPECT_EQ(SpinText(Spin("TConst"), -99), "-99");
    EXPECT_EQ(SpinText(Spin("K1_P"), 0.5), "0.5000");
    EXPECT_EQ(SpinText(Spin("ParamPomp3ValueOff"), -99.99), "-99.99");
    EXPECT_EQ(SpinText(Spin("LimitTOConst"), -0.0), "0.00");
    EXPECT_EQ(SpinText(Spin("TimeAntiMud"), 7), "7");
    EXPECT_EQ(SpinText(Spin("SerialN"), 599999), "599999");
}

TEST(PresentLists, ItemsKeepTheirExactBytes) {
    const ListSpec* scheme = FindListSpec("kod_scheme");
    ASSERT_NE(scheme, nullptr);
    ASSERT_EQ(scheme->items.size(), 8u);
    EXPECT_EQ(scheme->items[0], "Выключен");
    EXPECT_EQ(scheme->items[1], "1.1 СО, зависимая схема,  элеватор, насос(ы) на перемычке");
    EXPECT_EQ(scheme->items[7], "3.2 Вентеляция, заслонка");

    const ListSpec* limit = FindListSpec("LimitTOCfg");
    ASSERT_NE(limit, nullptr);
    ASSERT_EQ(limit->items.size(), 3u);
    EXPECT_EQ(limit->items[1].substr(0, 1), "T");  // a Latin T in front of Cyrillic letters

    const ListSpec* sensor = FindListSpec("TemperatureK0");
    ASSERT_NE(sensor, nullptr);
    ASSERT_EQ(sensor->items.size(), 4u);
    EXPECT_EQ(sensor->items[3], "1.385 100 O\xD0\xBC");  // Latin O, Cyrillic м

    const ListSpec* gsm = FindListSpec("users_buf0");
    ASSERT_NE(gsm, nullptr);
    ASSERT_EQ(gsm->items.size(), 5u);
    EXPECT_EQ(gsm->items[4], "Звонок по любой ошибке ");  // trailing blank

    struct Count {
        const char* name;
        std::size_t items;
        bool editable;
        const char* last;
    } counts[] = {{"ParamBase", 6, false, "График+константа"},
                  {"GraphTypeK1", 2, false, "недельный"},
                  {"PeriodStat", 9, false, "4 час"},
                  {"CB_Baud", 5, true, "115200"},
                  {"CB_Addr", 10, true, "10"},
                  {"CB_SysCount", 2, true, "2"},
                  {"AccTime", 8, true, "10"},
                  {"PinCode", 1, true, "4629"}};
    for (const Count& c : counts) {
        const ListSpec* l = FindListSpec(c.name);
        ASSERT_NE(l, nullptr) << c.name;
        ASSERT_EQ(l->items.size(), c.items) << c.name;
        EXPECT_EQ(l->editable, c.editable) << c.name;
        EXPECT_EQ(l->items.back(), c.last) << c.name;
    }
    for (const char* name : {"ParamReg", "ParamReg2", "Param1AvarCfg", "Param2AvarCfg"})
        EXPECT_EQ(FindListSpec(name)->kind, ListKind::Sources) << name;
    for (const char* name : {"ParmPomp1", "ParmPomp3"})
        EXPECT_EQ(FindListSpec(name)->kind, ListKind::SourcesNoneless) << name;
}

// The bindings stay inside the areas they address, name controls the tables know, and every
// numeric field's range fits its stored form except where the collect saturates on purpose.
TEST(PresentBindings, FitTheMemoryMapAndTheControlTables) {
    std::set<std::string> spins, lists;
    for (const SpinSpec& s : kSpinSpecs) {
        EXPECT_TRUE(spins.insert(std::string(s.name)).second) << "twice: " << s.name;
        EXPECT_LT(s.minimum, s.maximum) << s.name;
        if (s.kind == SpinKind::Whole) {
            EXPECT_EQ(s.decimals, 0) << s.name;
        }
    }
    for (const ListSpec& l : kListSpecs)
        EXPECT_TRUE(lists.insert(std::string(l.name)).second) << "twice: " << l.name;

    std::set<std::string> wider;
    for (const FieldBinding& b : kFieldBindings) {
        const int size = present_detail::BindingSize(b);
        if (b.inRecord) {
            // Only configuration is edited, and the manual valve command among the current values.
            if (b.offset != rec::KlapManual) {
                EXPECT_GE(b.offset, rec::Scheme) << b.control;
            }
            EXPECT_LE(b.offset + size, static_cast<int>(kCircuitRecordSize)) << b.control;
        } else {
            EXPECT_GE(b.offset, addr::ConfigStart) << b.control;
            EXPECT_LE(b.offset + size, static_cast<int>(kImageSize)) << b.control;
        }
        switch (b.conversion) {
            case Conversion::Spin: {
                ASSERT_TRUE(spins.count(std::string(b.control))) << b.control;
                const SpinSpec& s = Spin(b.control);
                if (s.minimum * b.scale < present_detail::TypeMin(b.type) ||
                    s.maximum * b.scale > present_detail::TypeMax(b.type))
                    wider.insert(std::string(b.control));
                break;
            }
            case Conversion::Float:
                EXPECT_EQ(b.type, FieldType::F32) << b.control;
                EXPECT_TRUE(spins.count(std::string(b.control))) << b.control;
                break;
            case Conversion::List:
            case Conversion::SourceList:
            case Conversion::SensorType:
                EXPECT_TRUE(lists.count(std::string(b.control))) << b.control;
                break;
            case Conversion::Radio:
                EXPECT_EQ(b.radios.size(), 3u) << b.control;
                break;
            default:
                break;
        }
    }
    EXPECT_EQ(wider, (std::set<std::string>{"LenAntiMud", "TimeAntiMud"}));
}

}  // namespace
}  // namespace vir05
