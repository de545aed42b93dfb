// What a command start takes from the connection dialog: the transport and the numbers read from
// the controls' texts, with their fallbacks for texts that are not numbers.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QRadioButton>
#include <QSpinBox>

#include "model/ports.h"
#include "ui/connect/connect.h"

namespace vir05 {
namespace {

struct StartCase {
    const char* name;
    Transport transport;
    const char* ipAddr;
    const char* ipPort;
    int netAddr;
    const char* port;
    const char* num;
    const char* baud;
    ConnectionValues command;  // what a read or configuration write starts with
    ConnectionValues service;  // what a calibration or serial-number write starts with
};

void PrintTo(const StartCase& c, std::ostream* os) {
    *os << c.name;
}

class ConnectStartValues : public ::testing::TestWithParam<StartCase> {};

TEST_P(ConnectStartValues, ReadFromTheControls) {
    const StartCase& c = GetParam();
    TFormConnect dialog;
    QRadioButton* radio =
        dialog.findChild<QRadioButton*>(c.transport == Transport::Tcp     ? "TCP"
                                        : c.transport == Transport::Modem ? "Modem"
                                                                          : "RS");
    ASSERT_NE(radio, nullptr);
    radio->setChecked(true);
    dialog.findChild<QComboBox*>("_IP_addr")->setEditText(c.ipAddr);
    dialog.findChild<QComboBox*>("_IP_port")->setEditText(c.ipPort);
    dialog.findChild<QSpinBox*>("_NetAddr")->setValue(c.netAddr);
    dialog.findChild<QComboBox*>("_Port")->setEditText(c.port);
    dialog.findChild<QComboBox*>("_Num")->setEditText(c.num);
    dialog.findChild<QComboBox*>("_BaudRate")->setEditText(c.baud);

    EXPECT_EQ(dialog.ChosenTransport(), c.transport);
    const ConnectionValues v = dialog.ConnectionValues();
    EXPECT_EQ(v.transport, c.command.transport);
    EXPECT_EQ(v.host, c.command.host);
    EXPECT_EQ(v.tcpPort, c.command.tcpPort);
    EXPECT_EQ(v.netAddr, c.command.netAddr);
    EXPECT_EQ(v.port, c.command.port);
    EXPECT_EQ(v.phone, c.command.phone);
    EXPECT_EQ(v.baudRate, c.command.baudRate);
    EXPECT_EQ(v.IsTcp(), c.transport == Transport::Tcp);
    EXPECT_EQ(dialog.ServiceConnectionValues(), c.service);
    EXPECT_FALSE(dialog.ServiceConnectionValues().IsTcp());
}

// Fields of ConnectionValues: transport, host, TCP port, address, COM port, phone, baud.
const StartCase kStartCases[] = {
    {"TcpGood",
     Transport::Tcp,
     "10.0.0.5",
     "502",
     7,
     "COM3",
     "8123",
     "38400",
     {Transport::Tcp, "10.0.0.5", 502, 7, "COM3", "", 38400},
     {Transport::Rs485, "10.0.0.5", 502, 7, "COM3", "", 38400}},
    {"TcpPortNotANumber",
     Transport::Tcp,
     "host.local",
     "port",
     0,
     "COM1",
     "",
     "9600",
     {Transport::Tcp, "host.local", 10001, 0, "COM1", "", 9600},
     {Transport::Rs485, "host.local", 10001, 0, "COM1", "", 9600}},
    // 70000 would wrap to 4464 in a 16-bit port; 0 is no port at all.
    {"TcpPortOutOfRange",
     Transport::Tcp,
     "h",
     "70000",
     1,
     "COM1",
     "",
     "9600",
     {Transport::Tcp, "h", 10001, 1, "COM1", "", 9600},
     {Transport::Rs485, "h", 10001, 1, "COM1", "", 9600}},
    {"TcpPortZero",
     Transport::Tcp,
     "h",
     "0",
     1,
     "COM1",
     "",
     "9600",
     {Transport::Tcp, "h", 10001, 1, "COM1", "", 9600},
     {Transport::Rs485, "h", 10001, 1, "COM1", "", 9600}},
    {"TcpPortWithSpaces",
     Transport::Tcp,
     "h",
     " 4001 ",
     1,
     "COM1",
     "",
     "9600",
     {Transport::Tcp, "h", 4001, 1, "COM1", "", 9600},
     {Transport::Rs485, "h", 4001, 1, "COM1", "", 9600}},
    // The number is dialled only with the modem chosen.
    {"Rs485IgnoresNumber",
     Transport::Rs485,
     "",
     "10001",
     255,
     "COM2",
     "8123",
     "115200",
     {Transport::Rs485, "", 10001, 255, "COM2", "", 115200},
     {Transport::Rs485, "", 10001, 255, "COM2", "", 115200}},
    {"ModemDials",
     Transport::Modem,
     "",
     "10001",
     12,
     "COM4",
     "8-800-1",
     "1200",
     {Transport::Modem, "", 10001, 12, "COM4", "8-800-1", 1200},
     {Transport::Rs485, "", 10001, 12, "COM4", "", 1200}},
    {"BaudNotANumber",
     Transport::Modem,
     "",
     "10001",
     3,
     "COM4",
     "1",
     "fast",
     {Transport::Modem, "", 10001, 3, "COM4", "1", 9600},
     {Transport::Rs485, "", 10001, 3, "COM4", "", 9600}},
    // A negative rate would turn into a huge unsigned one on the way to the serial line.
    {"BaudNegative",
     Transport::Rs485,
     "",
     "10001",
     3,
     "/dev/ttyUSB0",
     "",
     "-9600",
     {Transport::Rs485, "", 10001, 3, "/dev/ttyUSB0", "", 9600},
     {Transport::Rs485, "", 10001, 3, "/dev/ttyUSB0", "", 9600}},
    {"BaudZeroAndEmptyPort",
     Transport::Rs485,
     "",
     "",
     0,
     "",
     "",
     "0",
     {Transport::Rs485, "", 10001, 0, "", "", 9600},
     {Transport::Rs485, "", 10001, 0, "", "", 9600}},
};

INSTANTIATE_TEST_SUITE_P(Connect, ConnectStartValues, ::testing::ValuesIn(kStartCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ConnectTexts, AddressTextsOutsideAByteGiveZero) {
    const struct {
        const char* text;
        int addr;
    } cases[] = {{"7", 7},   {" 7", 7}, {"255", 255}, {"256", 0}, {"-1", 0},
                 {"abc", 0}, {"", 0},   {"3x", 0},    {"0", 0}};
    for (const auto& c : cases) {
        ConnectionTexts t;
        t.netAddr = c.text;
        EXPECT_EQ(CommandConnection(t).netAddr, c.addr) << '"' << c.text << '"';
    }
}

TEST(ConnectTexts, ServiceCodeIsExactText) {
    EXPECT_TRUE(IsServiceCode("2749"));
    for (const char* pin : {"", "274", "27490", " 2749", "2749 ", "1234"})
        EXPECT_FALSE(IsServiceCode(pin)) << '"' << pin << '"';
}

// Ports offered in the list must lead back to the same device when the link resolves them.
TEST(ConnectPortNames, NamesResolveBackToTheirDevice) {
    IniFile settings;
    settings.Parse("[Setting]\r\nCOM3=/dev/ttyUSB0\r\nCOM12=ttyACM1\r\n");
    const struct {
        const char* device;
        const char* name;
    } cases[] = {
        {"/dev/ttyS0", "COM1"},        // default rule
        {"/dev/ttyUSB0", "COM3"},      // mapped
        {"/dev/ttyACM1", "COM12"},     // mapped by bare device name
        {"/dev/ttyS2", "/dev/ttyS2"},  // COM3 is mapped away, so no COM name reaches it
        {"/dev/ttyACM0", "/dev/ttyACM0"},
    };
    for (const auto& c : cases) {
        const std::string name = PortChoiceName(c.device, &settings);
        EXPECT_EQ(name, c.name) << c.device;
        EXPECT_EQ(ResolvePortDevice(name, &settings), c.device) << c.device;
    }
    EXPECT_EQ(PortChoiceName("/dev/ttyS2", nullptr), "COM3");
}

}  // namespace
}  // namespace vir05
