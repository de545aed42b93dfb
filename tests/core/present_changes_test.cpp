// The change list: what a configuration write will send, as the engineer reads it.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "core/present/present.h"
#include "model/bytes.h"
#include "model/layout.h"
#include "sim/generator.h"
#include "tests/sim_controller.h"

namespace vir05 {
namespace {

class PresentChangesTest : public ::testing::Test {
  protected:
    std::unique_ptr<MemoryAreas> areas = test::AreasAfterARead();
    std::uint8_t* img() { return areas->DeviceImage(); }
    std::vector<ConfigChange> Changes() {
        return DescribeConfigChanges(areas->DeviceImage(), areas->ConfigShadow());
    }
};

void ExpectChange(const ConfigChange& c, const std::string& field, const std::string& control,
                  int circuit, const std::string& oldText, const std::string& newText) {
    EXPECT_EQ(c.field, field);
    EXPECT_EQ(c.control, control);
    EXPECT_EQ(c.circuit, circuit) << field;
    EXPECT_EQ(c.oldText, oldText) << field;
    EXPECT_EQ(c.newText, newText) << field;
}

TEST_F(PresentChangesTest, NothingChangedNothingListed) {
    EXPECT_TRUE(Changes().empty());
    // Bytes below the configuration area are not sent by the write.
    img()[addr::ClockSec] ^= 0xFF;
    img()[addr::ArchPos] ^= 0xFF;
    img()[addr::SoftVer] ^= 0xFF;
    EXPECT_TRUE(Changes().empty());
}

TEST_F(PresentChangesTest, FieldsInTheUnitsTheWindowShows) {
    PutI16(areas->ConfigShadow(), CircuitField(1, rec::TConst), 2150);
    PutI16(img(), CircuitField(1, rec::TConst), 2200);
    PutU32(areas->ConfigShadow(), CircuitField(0, rec::TimeRC), 90);
    PutU32(img(), CircuitField(0, rec::TimeRC), 120);
    img()[CircuitField(0, rec::AntiMud)] = 0;
    areas->ConfigShadow()[CircuitField(0, rec::AntiMud)] = 1;
    PutI8(img(), CircuitField(0, rec::ParamReg2), -1);
    PutI8(areas->ConfigShadow(), CircuitField(0, rec::ParamReg2), 5);
    PutI16(img(), CircuitField(0, rec::KlapManual), -6000);
    PutU16(img(), addr::PinCodeBcd, 0x0042);
    PutU16(areas->ConfigShadow(), addr::PinCodeBcd, 0x4629);
    img()[addr::NetAddress] = 44;
    areas->ConfigShadow()[addr::NetAddress] = 1;

    const auto changes = Changes();
    ASSERT_EQ(changes.size(), 7u);
    // Global fields first, then circuit 1's, then circuit 2's, each in collect order.
    ExpectChange(changes[0], "Сетевой адрес", "CB_Addr", 0, "1", "44");
    ExpectChange(changes[1], "PIN-код", "PinCode", 0, "4629", "0042");
    ExpectChange(changes[2], "Второй регулируемый параметр", "ParamReg2", 1, "(T11+T2)/2", "нет");
    ExpectChange(changes[3], "Период ресурса, мин", "TimeRC", 1, "1.5", "2");
    ExpectChange(changes[4], "Антизаиливание", "AntiMud", 1, "да", "нет");
    ExpectChange(changes[5], "Клапан, ручное управление", "KlapManual", 1, "авто", "закрыть");
    ExpectChange(changes[6], "Константа задания, °C", "TConst", 2, "21.5", "22");
}

TEST_F(PresentChangesTest, ArchivePeriodAt310IsListedOnce) {
    img()[addr::PeriodStat] = 3;
    img()[CircuitField(1, rec::PeriodStat)] = 3;
    const auto changes = Changes();
    ASSERT_EQ(changes.size(), 2u);
    ExpectChange(changes[0], "Период архива", "PeriodStat", 0, "1 час", "1 мин");
    ExpectChange(changes[1], "Период архива", "PeriodStat", 2, "1 час", "1 мин");
}

TEST_F(PresentChangesTest, BytesNoFieldCoversAreListedAsRuns) {
    // Schedule bytes of circuit 1 (535..537) and circuit 2 (1000), a run crossing from circuit
    // 2's last schedule into the GSM area (1301, 1302 | 1304, 1305), and a byte of the tuning
    // counters. A value graph entry is listed as the row of its graph; the rest as byte runs.
    for (const int a : {535, 536, 537, 1000, 1301, 1302, 1304, 1305, 1806})
        img()[a] ^= 0x5A;
    const auto changes = Changes();
    ASSERT_EQ(changes.size(), 5u);
    EXPECT_EQ(changes[0].field, "График 1, строка 1");
    EXPECT_EQ(changes[0].circuit, 1);
    EXPECT_EQ(changes[0].control, "");
    EXPECT_EQ(changes[1].field, "График 1, строка 21");
    EXPECT_EQ(changes[1].circuit, 2);
    EXPECT_EQ(changes[2].field, "График 3, строка 32");
    EXPECT_EQ(changes[2].circuit, 2);
    EXPECT_EQ(changes[3].field, "Байты 1304..1305");
    EXPECT_EQ(changes[3].circuit, 0);
    EXPECT_EQ(changes[4].field, "Байт 1806");
    // Old and new bytes in hexadecimal.
    char expected[8];
    std::snprintf(expected, sizeof expected, "%02X", areas->ConfigShadow()[1806]);
    EXPECT_EQ(changes[4].oldText, expected);
    std::snprintf(expected, sizeof expected, "%02X", img()[1806]);
    EXPECT_EQ(changes[4].newText, expected);
}

// After edits in the window, the list names exactly the edited fields.
TEST_F(PresentChangesTest, CollectedEditsAreExactlyWhatIsListed) {
    PresentationState state;
    ControlState controls;
    areas->SelectedCircuit = 1;
    PresentImage(*areas, state, controls);
    controls["Message_Secur"].text = "Нет воды";
    controls["TemperatureK0"].index = 3;
    controls["K2_P"].number = 1.25;
    controls["Pomp4On"].checked = true;
    ASSERT_TRUE(CollectControls(controls, *areas));
    const auto changes = Changes();
    ASSERT_EQ(changes.size(), 4u);
    EXPECT_EQ(changes[0].control, "Message_Secur");
    EXPECT_EQ(changes[0].newText, "Нет воды");
    EXPECT_EQ(changes[1].control, "TemperatureK0");
    EXPECT_EQ(changes[1].newText, "1.385 100 Oм");
    ExpectChange(changes[2], "Kp дополнительного контура", "K2_P", 2, "0.8", "1.25");
    EXPECT_EQ(changes[3].control, "Pomp4Manual");
    EXPECT_EQ(changes[3].circuit, 2);
    EXPECT_EQ(changes[3].newText, "включен");
}

}  // namespace
}  // namespace vir05
