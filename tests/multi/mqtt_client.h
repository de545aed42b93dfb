// A subscriber for the tests: keeps the last message of every topic it sees on the test
// broker, and waits for a condition with a generous limit (never for a fixed time).
#pragma once

#include <mosquitto.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>

namespace vir05::poll::test {

class Subscriber {
  public:
    explicit Subscriber(int port, const std::string& topic = "#") {
        mosquitto_lib_init();
        client_ = mosquitto_new(nullptr, true, this);
        mosquitto_message_callback_set(
            client_, [](mosquitto*, void* self, const mosquitto_message* m) {
                auto* me = static_cast<Subscriber*>(self);
                std::lock_guard lock(me->mutex_);
                me->last_[m->topic] = std::string(static_cast<const char*>(m->payload),
                                                  static_cast<size_t>(m->payloadlen));
                ++me->count_;
                me->changed_.notify_all();
            });
        topic_ = topic;
        mosquitto_connect_callback_set(client_, [](mosquitto* c, void* self, int rc) {
            if (rc == 0)
                mosquitto_subscribe(c, nullptr, static_cast<Subscriber*>(self)->topic_.c_str(), 1);
        });
        mosquitto_connect_async(client_, "127.0.0.1", port, 30);
        mosquitto_loop_start(client_);
    }
    ~Subscriber() {
        mosquitto_disconnect(client_);
        mosquitto_loop_stop(client_, false);
        mosquitto_destroy(client_);
    }

    // The last payload of `topic`, "" when none arrived.
    std::string Last(const std::string& topic) {
        std::lock_guard lock(mutex_);
        auto it = last_.find(topic);
        return it == last_.end() ? "" : it->second;
    }
    std::map<std::string, std::string> All() {
        std::lock_guard lock(mutex_);
        return last_;
    }
    void Forget() {
        std::lock_guard lock(mutex_);
        last_.clear();
    }

    // Waits until `ready` holds for the messages seen, at most `limit`; true when it holds.
    bool WaitFor(const std::function<bool(const std::map<std::string, std::string>&)>& ready,
                 std::chrono::seconds limit = std::chrono::seconds(120)) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, limit, [&] { return ready(last_); });
    }
    bool WaitFor(const std::string& topic, const std::string& payload,
                 std::chrono::seconds limit = std::chrono::seconds(120)) {
        return WaitFor(
            [&](const auto& m) {
                auto it = m.find(topic);
                return it != m.end() && it->second == payload;
            },
            limit);
    }

  private:
    mosquitto* client_ = nullptr;
    std::string topic_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::map<std::string, std::string> last_;
    long count_ = 0;
};

}  // namespace vir05::poll::test
