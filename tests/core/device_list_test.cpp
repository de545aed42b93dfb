// The serial device list: port names in device names, the tree of classes and devices, the port
// list and the reader of a sysfs-like tree.
#include "core/device_list.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "tests/core/test_util.h"

namespace vir05 {
namespace {

namespace fs = std::filesystem;

struct PortCase {
    const char* name;
    const char* port;
};

TEST(DeviceList, PortNameInDeviceName) {
    const PortCase cases[] = {
        {"Последовательный порт (COM1)", "COM1"},
        {"USB Serial Port (COM12)", "COM12"},  // not COM1
        {"Порт COM255", "COM255"},
        {"COM3 и COM12", "COM12"},  // the highest number wins
        {"Порт (COM256)", ""},      // past the last port number, and not COM25
        {"Порт COM2555", ""},
        {"Порт (COM0)", ""},
        {"Порт (COM01)", ""},
        {"Порт (com3)", ""},  // case-sensitive
        {"Модем COM", ""},
        {"COMx COM7", "COM7"},
        {"", ""},
    };
    for (const PortCase& c : cases)
        EXPECT_EQ(ExtractPortName(c.name), c.port) << c.name;
}

DeviceRecord Dev(const std::string& cls, const std::string& name, const std::string& node = "") {
    DeviceRecord r;
    r.classId = cls;
    r.classDescription = cls == "ports" ? "Порты (COM и LPT)" : cls;
    r.description = name;
    r.node = node;
    return r;
}

TEST(DeviceList, TreeKeepsClassesWithComAndDevicesInOrder) {
    const std::vector<DeviceRecord> records{
        Dev("ports", "Порт (COM3)"),          Dev("Клавиатуры", "Клавиатура"),
        Dev("modem com", "Модем (COM5)"),      // "com" in lower case only: not listed
        Dev("ports", "Порт принтера (LPT1)"),  // no COM number: in the tree, not in the list
        Dev("ports", "Порт (COM1)"),          Dev("COM-модемы", "Модем (COM7)"),
    };
    const auto tree = BuildDeviceTree(records);
    ASSERT_EQ(tree.size(), 2u);
    EXPECT_EQ(tree[0].description, "Порты (COM и LPT)");
    ASSERT_EQ(tree[0].devices.size(), 3u);
    EXPECT_EQ(tree[0].devices[0].description, "Порт (COM3)");
    EXPECT_EQ(tree[0].devices[1].description, "Порт принтера (LPT1)");
    EXPECT_EQ(tree[0].devices[2].description, "Порт (COM1)");
    EXPECT_EQ(tree[1].description, "COM-модемы");
    ASSERT_EQ(tree[1].devices.size(), 1u);

    // Enumeration order, one name per line, the ports of every listed class.
    EXPECT_EQ(PortListText(tree), "COM3\nCOM1\nCOM7\n");
    EXPECT_TRUE(BuildDeviceTree({}).empty());
    EXPECT_EQ(PortListText({}), "");
}

TEST(DeviceList, PortListFallsBackToNodeAndDropsRepeats) {
    const auto tree = BuildDeviceTree({
        Dev("ports", "Адаптер (/dev/ttyUSB0)", "/dev/ttyUSB0"),
        Dev("ports", "Порт (COM1)", "/dev/ttyS0"),
        Dev("ports", "Снова (COM1)", "/dev/ttyS0"),
        Dev("ports", "Без файла"),
    });
    EXPECT_EQ(PortList(tree), (std::vector<std::string>{"/dev/ttyUSB0", "COM1"}));
}

TEST(DeviceList, DetailsLines) {
    EXPECT_EQ(RootDetails(), (std::vector<std::string>{"", "Список устройств вашего компьютера"}));
    DeviceTreeClass cls{"tty", "Порты (COM)", {}};
    EXPECT_EQ(ClassDetails(cls), (std::vector<std::string>{"", "Класс \"Порты (COM)\"", "", "#"}));
    DeviceRecord d = Dev("ports", "Адаптер (COM3)", "/dev/ttyUSB0");
    d.driver = "usbser";
    d.portName = "COM3";
    // Fields that are not known give no line.
    EXPECT_EQ(DeviceDetails(d),
              (std::vector<std::string>{"", "Устройство \"Адаптер (COM3)\"", "", "Драйвер: usbser",
                                        "Файл устройства: /dev/ttyUSB0", "Имя порта: COM3"}));
}

TEST(DeviceList, NaturalOrderOfNodes) {
    EXPECT_TRUE(NaturalLess("/dev/ttyS2", "/dev/ttyS10"));
    EXPECT_FALSE(NaturalLess("/dev/ttyS10", "/dev/ttyS2"));
    EXPECT_TRUE(NaturalLess("/dev/ttyS9", "/dev/ttyUSB0"));
    EXPECT_FALSE(NaturalLess("/dev/ttyS1", "/dev/ttyS1"));
    EXPECT_TRUE(NaturalLess("/dev/ttyS1", "/dev/ttyS1a"));
}

// A small sysfs: two built-in ports with hardware, one reserved slot without, a USB adapter with
// its vendor strings and stable link, a console without a device and a port without a driver.
class FakeSysfs : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ = dir_.path();
        Driver("platform/drivers/serial8250");
        Driver("usb-serial/drivers/usbadapter");
        // Serial-core's port and controller devices sit between the tty and the hardware.
        Driver("pnp/drivers/serial");
        Driver("serial-base/drivers/ctrl");
        Driver("serial-base/drivers/port");
        fs::create_directory_symlink(root_ / "sys/bus/pnp/drivers/serial",
                                     Made("sys/devices/pnp0/00:01") / "driver");
        fs::create_directory_symlink(root_ / "sys/bus/serial-base/drivers/ctrl",
                                     Made("sys/devices/pnp0/00:01/00:01:0") / "driver");
        Port("ttyS0", "devices/pnp0/00:01/00:01:0/00:01:0.0", "serial-base/drivers/port", "4");
        Port("ttyS10", "devices/platform/serial8250/tty/ttyS10", "platform/drivers/serial8250",
             "4");
        Port("ttyS1", "devices/platform/serial8250/tty/ttyS1", "platform/drivers/serial8250", "0");
        const std::string usb = "devices/pci0000:00/usb1/1-2";
        Write(usb + "/manufacturer", "Завод Пример\n");
        Write(usb + "/product", "Адаптер RS485\n");
        Port("ttyUSB0", usb + "/1-2:1.0/ttyUSB0", "usb-serial/drivers/usbadapter", nullptr);
        fs::create_directories(root_ / "sys/class/tty/tty1");
        fs::create_directories(root_ / "sys/devices/virtual/acm/ttyACM0");
        fs::create_directory_symlink(root_ / "sys/devices/virtual/acm/ttyACM0",
                                     Made("sys/class/tty/ttyACM0") / "device");
        fs::create_directories(root_ / "dev/serial/by-id");
        fs::create_symlink("../../ttyUSB0",
                           root_ / "dev/serial/by-id/usb-Example_RS485-if00-port0");
    }

    fs::path Made(const std::string& rel) {
        fs::create_directories(root_ / rel);
        return root_ / rel;
    }
    void Write(const std::string& rel, const std::string& text) {
        fs::create_directories((root_ / "sys" / rel).parent_path());
        std::ofstream(root_ / "sys" / rel) << text;
    }
    void Driver(const std::string& rel) { Made("sys/bus/" + rel); }
    void Port(const std::string& name, const std::string& device, const std::string& driver,
              const char* type) {
        const fs::path dev = Made("sys/" + device);
        fs::create_directory_symlink(root_ / "sys/bus" / driver, dev / "driver");
        const fs::path entry = Made("sys/class/tty/" + name);
        // sysfs links are relative; one absolute link is enough to show both are followed.
        fs::create_directory_symlink(name == "ttyS0" ? fs::path("../../../" + device) : dev,
                                     entry / "device");
        if (type) std::ofstream(entry / "type") << type << "\n";
    }

    test::ScopedTempDir dir_;
    fs::path root_;
};

TEST_F(FakeSysfs, ReadsPortsWithDriversInNodeOrder) {
    const auto records = ReadSerialDevices(root_.string(), nullptr);
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].node, "/dev/ttyS0");
    EXPECT_EQ(records[0].driver, "serial");
    EXPECT_EQ(records[0].portName, "COM1");
    EXPECT_EQ(records[0].description, "Последовательный порт (COM1)");
    EXPECT_EQ(records[0].classDescription, kSerialPortClass);
    EXPECT_EQ(records[0].manufacturer, "");
    EXPECT_EQ(records[1].node, "/dev/ttyS10");
    EXPECT_EQ(records[1].portName, "COM11");
    EXPECT_EQ(records[1].driver, "serial8250");

    const DeviceRecord& usb = records[2];
    EXPECT_EQ(usb.node, "/dev/ttyUSB0");
    EXPECT_EQ(usb.driver, "usbadapter");
    EXPECT_EQ(usb.manufacturer, "Завод Пример");
    EXPECT_EQ(usb.model, "Адаптер RS485");
    EXPECT_EQ(usb.persistentName, "usb-Example_RS485-if00-port0");
    // No COMn key reaches the adapter: it is named and listed by its node.
    EXPECT_EQ(usb.portName, "");
    EXPECT_EQ(usb.description, "Адаптер RS485 (/dev/ttyUSB0)");
    EXPECT_EQ(PortListText(BuildDeviceTree(records)), "COM1\nCOM11\n/dev/ttyUSB0\n");
}

TEST_F(FakeSysfs, SettingsKeyNamesTheAdapterAsComPort) {
    IniFile ini;
    ini.Parse("[Setting]\nCOM3=/dev/ttyUSB0\n");
    const auto records = ReadSerialDevices(root_.string(), &ini);
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[2].portName, "COM3");
    EXPECT_EQ(records[2].description, "Адаптер RS485 (COM3)");
    EXPECT_EQ(PortListText(BuildDeviceTree(records)), "COM1\nCOM11\nCOM3\n");
}

TEST(DeviceList, MissingTreeGivesNoDevices) {
    test::ScopedTempDir dir;
    EXPECT_TRUE(ReadSerialDevices(dir.File("none"), nullptr).empty());
    EXPECT_TRUE(ReadSerialDevices(dir.path().string(), nullptr).empty());
}

TEST(DeviceList, ComNameFollowsSettings) {
    EXPECT_EQ(ComNameForNode("/dev/ttyS0", nullptr), "COM1");
    EXPECT_EQ(ComNameForNode("/dev/ttyS254", nullptr), "COM255");
    EXPECT_EQ(ComNameForNode("/dev/ttyUSB0", nullptr), "");
    EXPECT_EQ(ComNameForNode("", nullptr), "");
    IniFile ini;
    ini.Parse("[Setting]\nCOM1=/dev/ttyUSB1\n");
    // COM1 now names the adapter, so the first built-in port has no COM name left.
    EXPECT_EQ(ComNameForNode("/dev/ttyUSB1", &ini), "COM1");
    EXPECT_EQ(ComNameForNode("/dev/ttyS0", &ini), "");
}

}  // namespace
}  // namespace vir05
