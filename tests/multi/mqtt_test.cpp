// The MQTT messages as built, checked with PostgreSQL's own JSON parser, and the publisher
// against the test broker: retained state, availability and discovery, the poller's own
// availability, and everything retained back after a broker restart.
#include "poll/mqtt.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <set>

#include "mqtt_client.h"
#include "services.h"

namespace vir05::poll {
namespace {

using test::Query;
using test::Subscriber;

std::string Sql(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'') out += '\'';
        out += c;
    }
    return out + "'";
}

// A JSON field through the server's parser ("" when the text is not JSON at all).
std::string JsonField(const std::string& json, const std::string& path) {
    return Query(test::Env("VIR05_PG_URL"),
                 "SELECT (" + Sql(json) + "::jsonb) #>> '{" + path + "}'");
}

std::string JsonType(const std::string& json, const std::string& key) {
    return Query(test::Env("VIR05_PG_URL"),
                 "SELECT jsonb_typeof((" + Sql(json) + "::jsonb) -> " + Sql(key) + ")");
}

ControllerState Sample(const std::string& name = "ЦТП-12", int circuits = 2) {
    ControllerState s;
    s.name = name;
    s.serial = 500001;
    s.circuits = circuits;
    s.softVersion = "1.07";
    s.finished = "2026-12-11T10:00:02Z";
    s.values = {{"Date", "11.12.26"},
                {"Time", "10:00:00"},
                {"NumSystems", "2"},
                {"DevNumber", "500001"},
                {"SoftVer", "1.07"}};
    for (int c = 1; c <= circuits; ++c) {
        const std::string p = "S" + std::to_string(c);
        for (const char* k : {"T1", "T2", "T3", "T4", "T5", "Tz", "Tr"})
            s.values.push_back({p + k, "21.5"});
        s.values.push_back({p + "Err", c == 2 ? "1" : "0"});
        s.valvePercent.push_back(c == 1 ? 40 : -3);
    }
    return s;
}

TEST(MqttMessages, BrokerUrlsAndTopicLevels) {
    struct Url {
        const char* text;
        bool ok;
        const char* host;
        int port;
    };
    for (const Url& u : {Url{"mqtt://127.0.0.1:1883", true, "127.0.0.1", 1883},
                         Url{"mqtt://broker.local", true, "broker.local", 1883},
                         Url{"mqtt://127.0.0.1:18830/", true, "127.0.0.1", 18830},
                         Url{"mqtts://127.0.0.1", false, "", 0},
                         Url{"127.0.0.1:1883", false, "", 0}, Url{"mqtt://", false, "", 0},
                         Url{"mqtt://h:0", false, "", 0}, Url{"mqtt://h:70000", false, "", 0},
                         Url{"mqtt://h:12x", false, "", 0}, Url{"mqtt://user@h", false, "", 0}}) {
        SCOPED_TRACE(u.text);
        MqttConfig c;
        std::string error;
        EXPECT_EQ(ParseBrokerUrl(u.text, c, error), u.ok) << error;
        if (u.ok) {
            EXPECT_EQ(c.host, u.host);
            EXPECT_EQ(c.port, u.port);
        } else {
            EXPECT_FALSE(error.empty());
        }
    }
    // A name must stay one topic level and must not subscribe anyone to everything.
    EXPECT_EQ(TopicLevel("ЦТП-12"), "ЦТП-12");
    EXPECT_EQ(TopicLevel("a/b+c#d"), "a_b_c_d");
}

TEST(MqttMessages, TheStateIsJsonWithNumbersWhereTheValuesAreNumbers) {
    VIR05_NEED_SERVICE("VIR05_PG_URL");
    ControllerState s = Sample();
    s.values.push_back({"Odd", "01"});         // not a JSON number: stays text
    s.values.push_back({"Quote", "a\"b\\c"});  // escaped
    s.values.push_back({"Neg", "-5.43"});
    s.values.push_back({"Exp", "1e-05"});
    const std::string json = StateJson(s);
    struct Field {
        const char* key;
        const char* type;
        const char* value;
    };
    for (const Field& f : {Field{"DevNumber", "number", "500001"}, Field{"S1T1", "number", "21.5"},
                           Field{"Date", "string", "11.12.26"}, Field{"Odd", "string", "01"},
                           Field{"Quote", "string", "a\"b\\c"}, Field{"Neg", "number", "-5.43"},
                           Field{"Exp", "number", "0.00001"}, Field{"S1Klap", "number", "40"},
                           Field{"S2Klap", "number", "-3"}, Field{"S2Err", "number", "1"},
                           Field{"time", "string", "2026-12-11T10:00:02Z"}}) {
        SCOPED_TRACE(f.key);
        EXPECT_EQ(JsonType(json, f.key), f.type) << json;
        EXPECT_EQ(JsonField(json, f.key), f.value) << json;
    }
}

// Every discovery message is retained JSON whose state topic and template find a value in the
// state message; one circuit gets the entities of one circuit only.
TEST(MqttMessages, DiscoveryNamesWhatTheStateHolds) {
    VIR05_NEED_SERVICE("VIR05_PG_URL");
    MqttConfig config;
    for (int circuits : {1, 2}) {
        SCOPED_TRACE(circuits);
        const ControllerState s = Sample("ЦТП/12", circuits);
        const std::string state = StateJson(s);
        const auto messages = DiscoveryMessages(config, s);
        EXPECT_EQ(messages.size(), static_cast<std::size_t>(9 * circuits));
        std::set<std::string> unique;
        int binary = 0;
        for (const auto& [topic, payload] : messages) {
            SCOPED_TRACE(topic);
            EXPECT_EQ(topic.rfind("homeassistant/", 0), 0u);
            EXPECT_EQ(topic.substr(topic.size() - 7), "/config");
            EXPECT_EQ(JsonField(payload, "state_topic"), "vir05/ЦТП_12/state");
            EXPECT_EQ(JsonField(payload, "availability_topic"), "vir05/ЦТП_12/availability");
            EXPECT_EQ(JsonField(payload, "device,identifiers,0"), "vir05_500001");
            EXPECT_EQ(JsonField(payload, "device,name"), "ЦТП/12");
            const std::string tmpl = JsonField(payload, "value_template");
            const std::string key = tmpl.substr(14, tmpl.size() - 17);  // "{{ value_json.K }}"
            EXPECT_EQ(Query(test::Env("VIR05_PG_URL"),
                            "SELECT (" + Sql(state) + "::jsonb) ? " + Sql(key)),
                      "t")
                << key;
            unique.insert(JsonField(payload, "unique_id"));
            if (topic.find("/binary_sensor/") != std::string::npos) {
                ++binary;
                EXPECT_EQ(JsonField(payload, "device_class"), "problem");
                // The flag's values are the payloads on and off: circuit 2 of the sample has one.
                EXPECT_EQ(JsonField(state, key), key == "S2Err" ? "1" : "0");
                EXPECT_EQ(JsonField(payload, "payload_on"), "1");
                EXPECT_EQ(JsonField(payload, "payload_off"), "0");
                EXPECT_TRUE(key == "S1Err" || key == "S2Err") << key;
            } else if (key.find("Klap") != std::string::npos) {
                EXPECT_EQ(JsonField(payload, "unit_of_measurement"), "%");
            } else {
                EXPECT_EQ(JsonField(payload, "device_class"), "temperature");
                EXPECT_EQ(JsonField(payload, "unit_of_measurement"), "°C");
            }
        }
        EXPECT_EQ(unique.size(), messages.size());
        EXPECT_EQ(binary, circuits);
    }
}

TEST(MqttPublisher, RetainedMessagesAndBackAfterABrokerRestart) {
    VIR05_NEED_SERVICE("VIR05_MQTT_PORT");
    VIR05_NEED_SERVICE("VIR05_MQTT_RESTART");
    MqttConfig config;
    config.port = std::atoi(test::Env("VIR05_MQTT_PORT").c_str());
    config.prefix = "pubtest";
    config.discoveryPrefix = "pubtest-ha";
    MqttPublisher publisher(config, "host-a");
    std::string error;
    ASSERT_TRUE(publisher.Start(error)) << error;
    const ControllerState s = Sample("A", 1);
    publisher.PublishReading(s);
    publisher.PublishFailure("B");
    const std::string discovery = "pubtest-ha/sensor/vir05_500001/s1t1/config";
    {
        // A subscriber that comes later gets everything retained.
        Subscriber late(config.port, "pubtest/#");
        Subscriber ha(config.port, "pubtest-ha/#");
        EXPECT_TRUE(late.WaitFor("pubtest/A/state", StateJson(s)));
        EXPECT_TRUE(late.WaitFor("pubtest/A/availability", "online"));
        EXPECT_TRUE(late.WaitFor("pubtest/B/availability", "offline"));
        EXPECT_TRUE(late.WaitFor("pubtest/poller/host-a/availability", "online"));
        EXPECT_TRUE(ha.WaitFor([](const auto& m) { return m.size() == 9; }));
        EXPECT_FALSE(ha.Last(discovery).empty());
    }

    // The broker keeps nothing over a restart; the publisher comes back by itself and gives
    // the discovery messages and its own availability again, the state with the next reading.
    ASSERT_EQ(std::system(test::Env("VIR05_MQTT_RESTART").c_str()), 0);
    {
        Subscriber ha(config.port, "pubtest-ha/#");
        Subscriber states(config.port, "pubtest/#");
        EXPECT_TRUE(ha.WaitFor([](const auto& m) { return m.size() == 9; }));
        EXPECT_TRUE(states.WaitFor("pubtest/poller/host-a/availability", "online"));
        ControllerState next = s;
        next.finished = "2026-12-11T11:00:00Z";
        publisher.PublishReading(next);
        EXPECT_TRUE(states.WaitFor("pubtest/A/state", StateJson(next)));
        EXPECT_TRUE(states.WaitFor("pubtest/A/availability", "online"));
    }
    // A clean stop says the poller is gone.
    publisher.Stop();
    Subscriber after(config.port, "pubtest/poller/#");
    EXPECT_TRUE(after.WaitFor("pubtest/poller/host-a/availability", "offline"));
}

// A broker that is not up when the poller starts is tried again; what was read meanwhile goes
// out once it is there.
TEST(MqttPublisher, ABrokerThatComesLaterGetsEverything) {
    VIR05_NEED_SERVICE("VIR05_MQTT_STOP");
    VIR05_NEED_SERVICE("VIR05_MQTT_START");
    MqttConfig config;
    config.port = std::atoi(test::Env("VIR05_MQTT_PORT").c_str());
    config.prefix = "late" + std::to_string(getpid());
    config.discoveryPrefix = config.prefix + "-ha";
    ASSERT_EQ(std::system(test::Env("VIR05_MQTT_STOP").c_str()), 0);
    MqttPublisher publisher(config, "host-b");
    std::string error;
    const bool started = publisher.Start(error);
    const ControllerState s = Sample("A", 1);
    publisher.PublishReading(s);
    EXPECT_FALSE(publisher.Connected());
    ASSERT_EQ(std::system(test::Env("VIR05_MQTT_START").c_str()), 0);
    ASSERT_TRUE(started) << error;
    Subscriber sub(config.port, config.prefix + "/#");
    Subscriber ha(config.port, config.discoveryPrefix + "/#");
    EXPECT_TRUE(sub.WaitFor(config.prefix + "/A/state", StateJson(s)));
    EXPECT_TRUE(sub.WaitFor(config.prefix + "/A/availability", "online"));
    EXPECT_TRUE(sub.WaitFor(config.prefix + "/poller/host-b/availability", "online"));
    EXPECT_TRUE(ha.WaitFor([](const auto& m) { return m.size() == 9; }));
}

}  // namespace
}  // namespace vir05::poll
