#include "poll/mqtt.h"

#include <mosquitto.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <thread>

namespace vir05::poll {

namespace {

constexpr int kQos = 1;

void AppendJsonString(std::string& out, std::string_view text) {
    out += '"';
    for (unsigned char c : text) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", c);
                    out += buf;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    out += '"';
}

// A number as JSON spells it: optional minus, digits without a leading zero, optional fraction
// and exponent. The text output writes its numbers this way; anything else stays a string.
bool IsJsonNumber(std::string_view s) {
    std::size_t i = 0;
    if (i < s.size() && s[i] == '-') ++i;
    auto digits = [&] {
        std::size_t start = i;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9')
            ++i;
        return i - start;
    };
    if (i >= s.size()) return false;
    if (s[i] == '0') {
        ++i;
    } else if (digits() == 0) {
        return false;
    }
    if (i < s.size() && s[i] == '.') {
        ++i;
        if (digits() == 0) return false;
    }
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
        if (digits() == 0) return false;
    }
    return i == s.size();
}

struct Entity {
    const char* component;  // "sensor" or "binary_sensor"
    const char* key;        // the state key after "S<c>"
    const char* label;      // shown name after "Контур c "
    const char* unit;       // empty: none
    const char* deviceClass;
};

// Per circuit: the temperatures of the current values, the set point and the actual value of
// the loop, the valve position and the error flag.
constexpr Entity kEntities[] = {
    {"sensor", "T1", "T1", "°C", "temperature"},
    {"sensor", "T2", "T2", "°C", "temperature"},
    {"sensor", "T3", "T3", "°C", "temperature"},
    {"sensor", "T4", "T4", "°C", "temperature"},
    {"sensor", "T5", "T5", "°C", "temperature"},
    {"sensor", "Tz", "задание", "°C", "temperature"},
    {"sensor", "Tr", "реальная", "°C", "temperature"},
    {"sensor", "Klap", "клапан", "%", ""},
    {"binary_sensor", "Err", "ошибка", "", "problem"},
};

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

}  // namespace

bool ParseBrokerUrl(std::string_view url, MqttConfig& config, std::string& error) {
    constexpr std::string_view kScheme = "mqtt://";
    if (url.substr(0, kScheme.size()) != kScheme) {
        error = "broker must be mqtt://HOST[:PORT]";
        return false;
    }
    std::string_view rest = url.substr(kScheme.size());
    if (!rest.empty() && rest.back() == '/') rest.remove_suffix(1);
    std::string_view host = rest;
    int port = 1883;
    if (auto colon = rest.rfind(':'); colon != std::string_view::npos) {
        host = rest.substr(0, colon);
        std::string_view portText = rest.substr(colon + 1);
        auto [end, ec] = std::from_chars(portText.data(), portText.data() + portText.size(), port);
        if (ec != std::errc() || end != portText.data() + portText.size() || port < 1 ||
            port > 65535) {
            error = "broker port must be 1..65535";
            return false;
        }
    }
    if (host.empty() || host.find_first_of("/@?") != std::string_view::npos) {
        error = "broker must be mqtt://HOST[:PORT]";
        return false;
    }
    config.host = std::string(host);
    config.port = port;
    return true;
}

std::string TopicLevel(std::string_view name) {
    std::string out(name);
    for (char& c : out) {
        if (c == '/' || c == '+' || c == '#' || c == '\0') c = '_';
    }
    return out;
}

std::string StateJson(const ControllerState& state) {
    std::string out = "{";
    bool first = true;
    auto key = [&](std::string_view k) {
        if (!first) out += ',';
        first = false;
        AppendJsonString(out, k);
        out += ':';
    };
    for (const auto& [k, v] : state.values) {
        key(k);
        if (IsJsonNumber(v)) {
            out += v;
        } else {
            AppendJsonString(out, v);
        }
    }
    for (std::size_t c = 0; c < state.valvePercent.size(); ++c) {
        key("S" + std::to_string(c + 1) + "Klap");
        out += std::to_string(state.valvePercent[c]);
    }
    key("time");
    AppendJsonString(out, state.finished);
    out += '}';
    return out;
}

std::vector<std::pair<std::string, std::string>> DiscoveryMessages(const MqttConfig& config,
                                                                   const ControllerState& state) {
    std::vector<std::pair<std::string, std::string>> out;
    const std::string node = "vir05_" + std::to_string(state.serial);
    const std::string base = config.prefix + "/" + TopicLevel(state.name);
    std::string device = "{\"identifiers\":[";
    AppendJsonString(device, node);
    device += "],\"name\":";
    AppendJsonString(device, state.name);
    device += ",\"model\":\"ВИР-05\",\"serial_number\":";
    AppendJsonString(device, std::to_string(state.serial));
    if (!state.softVersion.empty()) {
        device += ",\"sw_version\":";
        AppendJsonString(device, state.softVersion);
    }
    device += '}';

    for (int c = 1; c <= state.circuits; ++c) {
        for (const Entity& e : kEntities) {
            const std::string stateKey = "S" + std::to_string(c) + e.key;
            const std::string object = node + "_" + Lower(stateKey);
            std::string p = "{\"name\":";
            AppendJsonString(p, "Контур " + std::to_string(c) + " " + e.label);
            p += ",\"unique_id\":";
            AppendJsonString(p, object);
            p += ",\"object_id\":";
            AppendJsonString(p, object);
            p += ",\"state_topic\":";
            AppendJsonString(p, base + "/state");
            p += ",\"value_template\":";
            AppendJsonString(p, "{{ value_json." + stateKey + " }}");
            p += ",\"availability_topic\":";
            AppendJsonString(p, base + "/availability");
            p += ",\"payload_available\":\"online\",\"payload_not_available\":\"offline\"";
            if (*e.unit) {
                p += ",\"unit_of_measurement\":";
                AppendJsonString(p, e.unit);
                p += ",\"state_class\":\"measurement\"";
            }
            if (*e.deviceClass) {
                p += ",\"device_class\":";
                AppendJsonString(p, e.deviceClass);
            }
            if (std::string_view(e.component) == "binary_sensor") {
                p += ",\"payload_on\":\"1\",\"payload_off\":\"0\"";
            }
            p += ",\"device\":" + device + "}";
            out.emplace_back(config.discoveryPrefix + "/" + e.component + "/" + node + "/" +
                                 Lower(stateKey) + "/config",
                             std::move(p));
        }
    }
    return out;
}

MqttPublisher::MqttPublisher(MqttConfig config, std::string host)
    : config_(std::move(config)), host_(std::move(host)) {}

MqttPublisher::~MqttPublisher() {
    Stop();
}

std::string MqttPublisher::PollerAvailabilityTopic() const {
    return config_.prefix + "/poller/" + TopicLevel(host_) + "/availability";
}

bool MqttPublisher::Start(std::string& error) {
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
    const std::string id = "vir05poll-" + host_ + "-" + std::to_string(::getpid());
    client_ = mosquitto_new(id.c_str(), true, this);
    if (client_ == nullptr) {
        error = "MQTT: the client could not be created";
        return false;
    }
    mosquitto_connect_callback_set(client_, &MqttPublisher::OnConnect);
    mosquitto_disconnect_callback_set(client_, &MqttPublisher::OnDisconnect);
    mosquitto_publish_callback_set(client_, &MqttPublisher::OnPublished);
    if (!config_.user.empty()) {
        mosquitto_username_pw_set(client_, config_.user.c_str(),
                                  config_.password.empty() ? nullptr : config_.password.c_str());
    }
    const std::string will = PollerAvailabilityTopic();
    mosquitto_will_set(client_, will.c_str(), 7, "offline", kQos, true);
    // The network runs on a thread of ours, so that a broker that is not up at the start is
    // tried again just like one that went away.
    mosquitto_threaded_set(client_, true);
    const int rc = mosquitto_connect_async(client_, config_.host.c_str(), config_.port,
                                           config_.keepAliveSeconds);
    if (rc != MOSQ_ERR_SUCCESS && rc != MOSQ_ERR_ERRNO && rc != MOSQ_ERR_NO_CONN) {
        error = std::string("MQTT: ") + mosquitto_strerror(rc);
        mosquitto_destroy(client_);
        client_ = nullptr;
        return false;
    }
    network_ = std::thread([this] { Network(); });
    started_ = true;
    return true;
}

void MqttPublisher::Network() {
    int backoff = 1;
    std::unique_lock lock(stopMutex_);
    while (!stopping_) {
        lock.unlock();
        const int rc = mosquitto_loop(client_, 200, 1);
        lock.lock();
        if (rc == MOSQ_ERR_SUCCESS) {
            if (Connected()) backoff = 1;
            continue;
        }
        // The broker is away (or not up yet): again after 1 s, backing off to 10 s.
        if (stopWake_.wait_for(lock, std::chrono::seconds(backoff), [this] { return stopping_; }))
            break;
        lock.unlock();
        mosquitto_reconnect(client_);
        lock.lock();
        backoff = std::min(backoff * 2, 10);
    }
}

void MqttPublisher::OnConnect(mosquitto*, void* self, int rc) {
    if (rc != 0) return;
    static_cast<MqttPublisher*>(self)->RepublishOnConnect();
}

void MqttPublisher::OnDisconnect(mosquitto*, void* self, int) {
    auto* me = static_cast<MqttPublisher*>(self);
    std::lock_guard lock(me->mutex_);
    me->connected_ = false;
}

void MqttPublisher::OnPublished(mosquitto*, void* self, int) {
    auto* me = static_cast<MqttPublisher*>(self);
    std::lock_guard lock(me->mutex_);
    if (me->inFlight_ > 0) --me->inFlight_;
}

bool MqttPublisher::Send(const std::string& topic, const std::string& payload) {
    {
        std::lock_guard lock(mutex_);
        ++inFlight_;
    }
    int rc = mosquitto_publish(client_, nullptr, topic.c_str(), static_cast<int>(payload.size()),
                               payload.data(), kQos, true);
    if (rc == MOSQ_ERR_SUCCESS) return true;
    std::lock_guard lock(mutex_);
    --inFlight_;
    return false;
}

void MqttPublisher::RepublishOnConnect() {
    std::map<std::string, std::string> pending;
    std::vector<std::pair<std::string, std::string>> discovery;
    {
        std::lock_guard lock(mutex_);
        connected_ = true;
        pending.swap(pending_);
        for (const auto& [name, messages] : discovery_) {
            discovery.insert(discovery.end(), messages.begin(), messages.end());
        }
    }
    Send(PollerAvailabilityTopic(), "online");
    for (const auto& [topic, payload] : discovery)
        Publish(topic, payload);
    for (const auto& [topic, payload] : pending)
        Publish(topic, payload);
}

void MqttPublisher::Publish(const std::string& topic, const std::string& payload) {
    {
        std::lock_guard lock(mutex_);
        if (!connected_) {
            pending_[topic] = payload;
            return;
        }
    }
    if (!Send(topic, payload)) {
        std::lock_guard lock(mutex_);
        pending_[topic] = payload;
    }
}

void MqttPublisher::PublishReading(const ControllerState& state) {
    if (client_ == nullptr) return;
    auto discovery = DiscoveryMessages(config_, state);
    bool changed;
    {
        std::lock_guard lock(mutex_);
        auto& known = discovery_[state.name];
        changed = known != discovery;
        if (changed) known = discovery;
    }
    if (changed) {
        for (const auto& [topic, payload] : discovery)
            Publish(topic, payload);
    }
    const std::string base = config_.prefix + "/" + TopicLevel(state.name);
    Publish(base + "/state", StateJson(state));
    Publish(base + "/availability", "online");
}

void MqttPublisher::PublishFailure(const std::string& name) {
    if (client_ == nullptr) return;
    Publish(config_.prefix + "/" + TopicLevel(name) + "/availability", "offline");
}

bool MqttPublisher::Connected() const {
    std::lock_guard lock(mutex_);
    return connected_;
}

void MqttPublisher::Stop() {
    if (!started_) {
        if (client_ != nullptr) mosquitto_destroy(client_);
        client_ = nullptr;
        return;
    }
    started_ = false;
    if (Connected()) {
        Send(PollerAvailabilityTopic(), "offline");
        // Give the messages in flight up to five seconds to be acknowledged; a broker that is
        // gone does not hold the stop up longer.
        for (int i = 0; i < 500; ++i) {
            {
                std::lock_guard lock(mutex_);
                if (inFlight_ == 0 || !connected_) break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    mosquitto_disconnect(client_);
    // The network thread sends the disconnect; then it ends.
    for (int i = 0; i < 200 && Connected(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    {
        std::lock_guard lock(stopMutex_);
        stopping_ = true;
    }
    stopWake_.notify_all();
    if (network_.joinable()) network_.join();
    mosquitto_destroy(client_);
    client_ = nullptr;
}

}  // namespace vir05::poll
