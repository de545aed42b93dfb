// The fleet file's keys for sharing: [mqtt], a line's host, lease_seconds, a database URL; and
// which lines a poller keeps.
#include <gtest/gtest.h>

#include "poll/fleet.h"
#include "poll/sharing.h"

namespace vir05::poll {
namespace {

constexpr const char* kLines = R"(
[[line]]
name = "north"
port = "/dev/ttyUSB0"
host = "site-n"

[[line]]
name = "south"
port = "/dev/ttyUSB0"
host = "site-s"

[[line]]
name = "anyone"
port = "/dev/ttyUSB1"

[[controller]]
name = "N1"
line = "north"
address = 1

[[controller]]
name = "S1"
line = "south"
address = 1

[[controller]]
name = "A1"
line = "anyone"
address = 1

[[controller]]
name = "T1"
host = "127.0.0.1"
address = 1
)";

TEST(FleetSharing, KeysAreReadAndLinesBelongToTheirHosts) {
    const std::string text = std::string(R"([poll]
database = "postgresql:///vir05?host=/run/postgresql"
lease_seconds = 30

[mqtt]
broker = "mqtt://127.0.0.1:1883"
user = "poller"
password_file = "secret/mqtt.pass"
prefix = "plant/vir05"
)") + kLines;
    std::string error;
    auto fleet = ParseFleet(text, "/etc/vir05/fleet.toml", error);
    ASSERT_TRUE(fleet) << error;
    EXPECT_EQ(fleet->database, "postgresql:///vir05?host=/run/postgresql");  // not a path
    EXPECT_EQ(fleet->leaseSeconds, 30);
    EXPECT_EQ(fleet->mqtt.broker, "mqtt://127.0.0.1:1883");
    EXPECT_EQ(fleet->mqtt.user, "poller");
    EXPECT_EQ(fleet->mqtt.passwordFile, "/etc/vir05/secret/mqtt.pass");
    EXPECT_EQ(fleet->mqtt.prefix, "plant/vir05");
    EXPECT_EQ(fleet->mqtt.discoveryPrefix, "homeassistant");

    struct Case {
        const char* host;
        std::vector<std::string> controllers;
    };
    for (const Case& c : {Case{"site-n", {"N1", "A1", "T1"}}, Case{"site-s", {"S1", "A1", "T1"}},
                          Case{"elsewhere", {"A1", "T1"}}}) {
        SCOPED_TRACE(c.host);
        Fleet own = *fleet;
        KeepOwnLines(own, c.host);
        std::vector<std::string> names;
        for (const auto& ctl : own.controllers)
            names.push_back(ctl.name);
        EXPECT_EQ(names, c.controllers);
        for (const auto& l : own.lines)
            EXPECT_TRUE(l.host.empty() || l.host == c.host);
    }
}

TEST(FleetSharing, MistakesNameTheLineAndTheKey) {
    struct Case {
        const char* text;
        const char* expected;  // part of the message, after "PATH:LINE: "
    };
    const Case cases[] = {
        {"[mqtt]\nuser = \"x\"\n", "f.toml:1: [mqtt]: key 'broker' is missing"},
        {"[mqtt]\nbroker = \"mqtt://h\"\nprefix = \"a/+\"\n", "f.toml:3: [mqtt]: key 'prefix'"},
        {"[mqtt]\nbroker = \"mqtt://h\"\ndiscovery_prefix = \"/ha\"\n",
         "f.toml:3: [mqtt]: key 'discovery_prefix'"},
        {"[mqtt]\nbroker = \"mqtt://h\"\nqos = 2\n", "f.toml:3: [mqtt]: key 'qos' is unknown"},
        {"[poll]\nlease_seconds = 0\n", "f.toml:2: [poll]: key 'lease_seconds' must lie in"},
        {"[[line]]\nname = \"a\"\nport = \"/dev/x\"\nhost = \"h\"\n[[line]]\nname = \"b\"\n"
         "port = \"/dev/x\"\nhost = \"h\"\n",
         "port '/dev/x' is already the line on line 1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::string error;
        EXPECT_FALSE(ParseFleet(c.text, "f.toml", error));
        EXPECT_NE(error.find(c.expected), std::string::npos) << error;
    }
}

}  // namespace
}  // namespace vir05::poll
