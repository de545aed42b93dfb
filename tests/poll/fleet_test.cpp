// The fleet file: what a good one gives, and that every mistake is found before anything is
// polled, named by file, line and key.
#include <gtest/gtest.h>

#include <string>

#include "poll/fleet.h"

namespace vir05::poll {
namespace {

constexpr const char* kGood = R"(
[poll]
database = "fleet.sqlite"
output = "out"
tcp_parallel = 8
archive = "all"

[[line]]
name = "bus1"
port = "COM3"
baud = 9600

[[line]]
name = "modem"
port = "/dev/ttyUSB1"

[[controller]]
name = "ЦТП-12"
line = "bus1"
address = 3
phone = ""
pin = "1234"

[[controller]]
name = "ЦТП-13"
line = "modem"
address = 1
phone = "5551234"

[[controller]]
name = "ЦТП-40"
host = "127.0.0.1"
port = 10002
address = 1

[[controller]]
name = "ЦТП-41"
host = "gw.example"
address = 0
)";

TEST(FleetFile, GoodFileGivesEveryValueWithPathsBesideTheFile) {
    std::string error;
    const auto fleet = ParseFleet(kGood, "/etc/vir05/fleet.toml", error);
    ASSERT_TRUE(fleet) << error;
    EXPECT_EQ(fleet->database, "/etc/vir05/fleet.sqlite");
    EXPECT_EQ(fleet->output, "/etc/vir05/out");
    EXPECT_EQ(fleet->settings, "/etc/vir05/vir05.ini");
    EXPECT_EQ(fleet->tcpParallel, 8);
    EXPECT_EQ(fleet->archive, ArchiveMode::All);
    ASSERT_EQ(fleet->lines.size(), 2u);
    EXPECT_EQ(fleet->lines[0].port, "COM3");
    EXPECT_EQ(fleet->lines[1].baud, 9600u);  // the default
    ASSERT_EQ(fleet->controllers.size(), 4u);
    const FleetController& bus = fleet->controllers[0];
    EXPECT_EQ(bus.name, "ЦТП-12");
    EXPECT_FALSE(bus.OverTcp());
    EXPECT_EQ(bus.address, 3);
    EXPECT_EQ(bus.pin, "1234");
    EXPECT_EQ(fleet->controllers[1].phone, "5551234");
    EXPECT_TRUE(fleet->controllers[2].OverTcp());
    EXPECT_EQ(fleet->controllers[2].tcpPort, 10002);
    EXPECT_EQ(fleet->controllers[3].tcpPort, 10001);  // the default
    EXPECT_EQ(fleet->controllers[3].address, 0);
}

TEST(FleetFile, DefaultsWithoutAPollTable) {
    std::string error;
    const auto fleet = ParseFleet("[[controller]]\nname = \"a\"\nhost = \"h\"\naddress = 1\n",
                                  "dir/f.toml", error);
    ASSERT_TRUE(fleet) << error;
    EXPECT_EQ(fleet->database, "dir/vir05.sqlite");
    EXPECT_EQ(fleet->output, "");
    EXPECT_EQ(fleet->tcpParallel, 16);
    EXPECT_EQ(fleet->archive, ArchiveMode::New);
}

struct BadCase {
    const char* what;
    const char* text;
    const char* expected;  // the whole message must hold this
};

class FleetErrors : public ::testing::TestWithParam<BadCase> {};

TEST_P(FleetErrors, AreNamedByFileLineAndKey) {
    std::string error;
    const auto fleet = ParseFleet(GetParam().text, "f.toml", error);
    EXPECT_FALSE(fleet);
    EXPECT_NE(error.find(GetParam().expected), std::string::npos) << error;
}

// Line numbers count from the first line of each text.
INSTANTIATE_TEST_SUITE_P(
    Cases, FleetErrors,
    ::testing::Values(
        BadCase{"unknown key", "[poll]\ndatabse = \"x\"\n",
                "f.toml:2: [poll]: key 'databse' is unknown"},
        BadCase{"unknown controller key",
                "[[controller]]\nname = \"a\"\nhost = \"h\"\naddress = 1\nadress = 2\n",
                "f.toml:5: [[controller]]: key 'adress' is unknown"},
        BadCase{"unknown table", "[pol]\ndatabase = \"x\"\n", "f.toml:1: table 'pol' is unknown"},
        BadCase{"duplicate names",
                "[[controller]]\nname = \"a\"\nhost = \"h\"\naddress = 1\n"
                "[[controller]]\nname = \"a\"\nhost = \"h\"\naddress = 2\n",
                "f.toml:5: [[controller]] 'a': the name is given to two controllers"},
        BadCase{"missing line", "[[controller]]\nname = \"a\"\nline = \"bus9\"\naddress = 1\n",
                "f.toml:3: [[controller]] 'a': key 'line': no [[line]] is named 'bus9'"},
        BadCase{"address too big", "[[controller]]\nname = \"a\"\nhost = \"h\"\naddress = 256\n",
                "f.toml:4: [[controller]]: key 'address' must lie in 0..255, not 256"},
        BadCase{"address negative", "[[controller]]\nname = \"a\"\nhost = \"h\"\naddress = -1\n",
                "key 'address' must lie in 0..255, not -1"},
        BadCase{"address missing", "[[controller]]\nname = \"a\"\nhost = \"h\"\n",
                "f.toml:1: [[controller]]: key 'address' is missing"},
        BadCase{"address a text", "[[controller]]\nname = \"a\"\nhost = \"h\"\naddress = \"3\"\n",
                "f.toml:4: [[controller]]: key 'address' must be a whole number"},
        BadCase{"line and host",
                "[[line]]\nname = \"b\"\nport = \"COM1\"\n"
                "[[controller]]\nname = \"a\"\nline = \"b\"\nhost = \"h\"\naddress = 1\n",
                "f.toml:4: [[controller]] 'a': give either key 'line' or key 'host'"},
        BadCase{"neither line nor host", "[[controller]]\nname = \"a\"\naddress = 1\n",
                "give either key 'line' or key 'host'"},
        BadCase{
            "one port, two lines",
            "[[line]]\nname = \"b\"\nport = \"COM1\"\n[[line]]\nname = \"c\"\nport = \"COM1\"\n",
            "f.toml:4: [[line]] 'c': port 'COM1' is already the line on line 1"},
        BadCase{
            "two lines of one name",
            "[[line]]\nname = \"b\"\nport = \"COM1\"\n[[line]]\nname = \"b\"\nport = \"COM2\"\n",
            "the name is given to two lines"},
        BadCase{"one address twice on a bus",
                "[[line]]\nname = \"b\"\nport = \"COM1\"\n"
                "[[controller]]\nname = \"x\"\nline = \"b\"\naddress = 4\n"
                "[[controller]]\nname = \"y\"\nline = \"b\"\naddress = 4\n",
                "f.toml:8: [[controller]] 'y': it answers on the same line and address as 'x'"},
        BadCase{"archive mode", "[poll]\narchive = \"some\"\n",
                "f.toml:2: [poll]: key 'archive' must be new, all or none, not 'some'"},
        BadCase{"tcp_parallel zero", "[poll]\ntcp_parallel = 0\n",
                "key 'tcp_parallel' must lie in 1..1024, not 0"},
        BadCase{"port on a bus controller",
                "[[line]]\nname = \"b\"\nport = \"COM1\"\n"
                "[[controller]]\nname = \"x\"\nline = \"b\"\nport = 5\naddress = 4\n",
                "f.toml:7: [[controller]] 'x': key 'port' belongs to a TCP controller"},
        BadCase{"phone over TCP",
                "[[controller]]\nname = \"a\"\nhost = \"h\"\naddress = 1\nphone = \"1\"\n",
                "key 'phone' needs a serial line"},
        BadCase{"pin not four digits",
                "[[controller]]\nname = \"a\"\nhost = \"h\"\naddress = 1\npin = \"12a4\"\n",
                "f.toml:5: [[controller]] 'a': key 'pin' must be four digits"},
        BadCase{"name with a slash", "[[controller]]\nname = \"a/b\"\nhost = \"h\"\naddress = 1\n",
                "key 'name' is not a usable folder name"},
        BadCase{"TCP port zero",
                "[[controller]]\nname = \"a\"\nhost = \"h\"\nport = 0\naddress = 1\n",
                "key 'port' must lie in 1..65535, not 0"},
        BadCase{"controller as a table", "[controller]\nname = \"a\"\n",
                "f.toml:1: 'controller' must be written as [[controller]] tables"},
        BadCase{"Cyrillic bare key", "# Парк\n[poll]\nимя = 1\n",
                "f.toml:3: a character outside quotes that is not ASCII"},
        BadCase{"a stray character after a text", "[poll]\ndatabase = \"x\"\xc2\xa1\n",
                "f.toml:2: a character outside quotes"},
        BadCase{"after a multi-line text", "[poll]\ndatabase = \"\"\"a\nб\"\"\"\nБ = 1\n",
                "f.toml:4: a character outside quotes"},
        BadCase{"syntax", "[poll]\ndatabase = \n", "f.toml:2: "},
        BadCase{"duplicate key", "[poll]\ndatabase = \"a\"\ndatabase = \"b\"\n", "f.toml:3: "}),
    [](const ::testing::TestParamInfo<BadCase>& info) {
        std::string name;
        for (const char* p = info.param.what; *p; ++p)
            name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
        return name;
    });

TEST(FleetFile, TextsAndCommentsMayHoldAnyLetters) {
    std::string error;
    const auto fleet = ParseFleet(
        "# Парк котельных ‘Север’\n[poll]  # общие\ndatabase = 'база \"№1\".sqlite'\n"
        "output = \"\"\"вывод\"\"\"\n[[controller]]\nname = \"ЦТП-\\u0031\" # первый\n"
        "host = \"h\"\naddress = 1\n",
        "f.toml", error);
    ASSERT_TRUE(fleet) << error;
    EXPECT_EQ(fleet->database, "база \"№1\".sqlite");
    EXPECT_EQ(fleet->output, "вывод");
    EXPECT_EQ(fleet->controllers[0].name, "ЦТП-1");
}

TEST(FleetFile, LoadNamesAMissingFile) {
    std::string error;
    EXPECT_FALSE(LoadFleet("/nonexistent/fleet.toml", error));
    EXPECT_EQ(error, "/nonexistent/fleet.toml: cannot be read");
}

}  // namespace
}  // namespace vir05::poll
