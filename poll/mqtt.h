// Readings out to an MQTT broker: per controller one retained JSON message with its current
// values, its availability, and discovery messages so that home-automation front ends show the
// controllers without hand-written configuration; the poller's own availability through the
// broker's last will.
//
// Topics (PREFIX from the fleet file, NAME the controller's name with "/", "+" and "#" replaced
// by "_"):
//   PREFIX/NAME/state                 retained JSON: the current values of the last good reading
//   PREFIX/NAME/availability          retained "online" after a good reading, "offline" after a
//                                     failed one
//   PREFIX/poller/HOST/availability   retained "online" while this poller is connected; the
//                                     broker publishes "offline" (the last will) when it is gone
//   DISCOVERY/sensor/vir05_SERIAL/OBJECT/config          temperatures and valve position
//   DISCOVERY/binary_sensor/vir05_SERIAL/OBJECT/config   the error flag of each circuit
//
// The client runs its own network thread, reconnects by itself and, once connected again,
// publishes the poller's availability and every discovery message anew (a broker without
// persistence has forgotten them). A controller's state and availability are published again
// with its next reading: another poller may have read it since, and an old value must not
// overwrite a newer one.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

struct mosquitto;

namespace vir05::poll {

struct MqttConfig {
    std::string host = "127.0.0.1";
    int port = 1883;
    std::string user;      // empty: anonymous
    std::string password;  // read from the password file, never from the fleet file itself
    std::string prefix = "vir05";
    std::string discoveryPrefix = "homeassistant";
    int keepAliveSeconds = 30;
};

// Parses "mqtt://HOST[:PORT]" (port 1883 by default) into `config`. False with a message in
// `error` for another scheme, an empty host or a port outside 1..65535.
bool ParseBrokerUrl(std::string_view url, MqttConfig& config, std::string& error);

// What a good reading leaves to publish.
struct ControllerState {
    std::string name;
    std::uint32_t serial = 0;
    int circuits = 1;
    std::string softVersion;  // "1.07", as the text output writes it
    std::string finished;     // UTC, ISO 8601
    // The keys and values of the text output's first section ("DevNumber", "S1T1", ...).
    std::vector<std::pair<std::string, std::string>> values;
    // The valve position of each circuit, percent.
    std::vector<int> valvePercent;
};

// The name as a topic level: "/", "+" and "#" (and NUL) become "_".
std::string TopicLevel(std::string_view name);

// The state message: every value as a JSON number where it reads as one, else as a string;
// "S<c>Klap" the valve position of circuit c; "time" the end of the reading.
std::string StateJson(const ControllerState& state);

// The discovery messages (topic, payload) of one controller, all to be retained.
std::vector<std::pair<std::string, std::string>> DiscoveryMessages(const MqttConfig& config,
                                                                   const ControllerState& state);

class MqttPublisher {
  public:
    // `host` names this poller (its --host); the client id adds the process id, so that
    // several pollers on one host do not push each other off the broker.
    MqttPublisher(MqttConfig config, std::string host);
    ~MqttPublisher();
    MqttPublisher(const MqttPublisher&) = delete;
    MqttPublisher& operator=(const MqttPublisher&) = delete;

    // Sets the last will and starts connecting in the background. False only when the client
    // cannot be set up at all (a broker that is not up yet is retried by itself).
    bool Start(std::string& error);

    // After a good reading: discovery (when new or changed), state and "online".
    void PublishReading(const ControllerState& state);
    // After a failed reading: "offline" for the controller.
    void PublishFailure(const std::string& name);

    // Publishes the poller's "offline", waits a little for the messages in flight and
    // disconnects (a clean stop: the broker does not send the last will).
    void Stop();

    bool Connected() const;
    std::string PollerAvailabilityTopic() const;

  private:
    static void OnConnect(mosquitto* client, void* self, int rc);
    static void OnDisconnect(mosquitto* client, void* self, int rc);
    static void OnPublished(mosquitto* client, void* self, int mid);
    bool Send(const std::string& topic, const std::string& payload);
    void Publish(const std::string& topic, const std::string& payload);
    void RepublishOnConnect();
    void Network();

    MqttConfig config_;
    std::string host_;
    mosquitto* client_ = nullptr;
    bool started_ = false;
    std::thread network_;
    std::mutex stopMutex_;
    std::condition_variable stopWake_;
    bool stopping_ = false;

    mutable std::mutex mutex_;
    bool connected_ = false;
    int inFlight_ = 0;  // published, not yet acknowledged by the broker
    // Discovery messages per controller, kept to be published again after a reconnect.
    std::map<std::string, std::vector<std::pair<std::string, std::string>>> discovery_;
    // Messages that could not be handed to the broker while it was away, newest per topic.
    std::map<std::string, std::string> pending_;
};

}  // namespace vir05::poll
