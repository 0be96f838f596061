// Another client of a test's broker: publishes and waits for the broker's acknowledgement, and keeps
// every payload it receives, per topic, in the order of arrival.
#pragma once

#include <mosquitto.h>

#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace orvanta::testing {

class MqttPeer {
public:
    explicit MqttPeer(int port) {
        mosquitto_lib_init();
        client_ = mosquitto_new(nullptr, true, this);
        mosquitto_publish_callback_set(client_, [](mosquitto*, void* self, int) {
            auto& me = *static_cast<MqttPeer*>(self);
            const std::lock_guard lock(me.mutex_);
            ++me.acknowledged_;
        });
        mosquitto_subscribe_callback_set(client_, [](mosquitto*, void* self, int, int, const int*) {
            auto& me = *static_cast<MqttPeer*>(self);
            const std::lock_guard lock(me.mutex_);
            ++me.subscribed_;
        });
        mosquitto_message_callback_set(client_, [](mosquitto*, void* self, const mosquitto_message* message) {
            auto& me = *static_cast<MqttPeer*>(self);
            const std::lock_guard lock(me.mutex_);
            std::string payload(static_cast<const char*>(message->payload),
                                static_cast<std::size_t>(message->payloadlen));
            me.history_[message->topic].push_back(payload);
            me.arrivals_.push_back(std::string(message->topic) + "=" + payload);
            me.received_[message->topic] = std::move(payload);
        });
        connected_ = mosquitto_connect(client_, "127.0.0.1", port, 10) == MOSQ_ERR_SUCCESS &&
                     mosquitto_loop_start(client_) == MOSQ_ERR_SUCCESS;
    }
    ~MqttPeer() {
        mosquitto_disconnect(client_);
        mosquitto_loop_stop(client_, false);
        mosquitto_destroy(client_);
    }

    bool connected() const { return connected_; }

    bool publish(const std::string& topic, const std::string& payload) {
        int before = 0;
        {
            const std::lock_guard lock(mutex_);
            before = acknowledged_;
        }
        mosquitto_publish(client_, nullptr, topic.c_str(), static_cast<int>(payload.size()), payload.data(),
                          1, true);
        return waitFor([&] { return acknowledged_ > before; });
    }

    // All at once, as a busy publisher sends them, then waits for the broker's acknowledgements.
    bool publishAll(const std::vector<std::pair<std::string, std::string>>& messages) {
        int before = 0;
        {
            const std::lock_guard lock(mutex_);
            before = acknowledged_;
        }
        for (const auto& [topic, payload] : messages)
            mosquitto_publish(client_, nullptr, topic.c_str(), static_cast<int>(payload.size()),
                              payload.data(), 1, true);
        return waitFor([&] { return acknowledged_ >= before + static_cast<int>(messages.size()); });
    }

    // Returns once the broker has the subscription: what is published after it reaches this peer.
    bool subscribe(const std::string& pattern) {
        int before = 0;
        {
            const std::lock_guard lock(mutex_);
            before = subscribed_;
        }
        mosquitto_subscribe(client_, nullptr, pattern.c_str(), 1);
        return waitFor([&] { return subscribed_ > before; });
    }

    // The newest payload seen on topic, empty when none.
    std::string last(const std::string& topic) {
        const std::lock_guard lock(mutex_);
        const auto found = received_.find(topic);
        return found == received_.end() ? std::string() : found->second;
    }

    // Every payload seen on topic, oldest first.
    std::vector<std::string> history(const std::string& topic) {
        const std::lock_guard lock(mutex_);
        const auto found = history_.find(topic);
        return found == history_.end() ? std::vector<std::string>() : found->second;
    }

    // Every message seen, as topic=payload, in the order of arrival.
    std::vector<std::string> arrivals() {
        const std::lock_guard lock(mutex_);
        return arrivals_;
    }

    // Whether topic carries payload within 3 s.
    bool sees(const std::string& topic, const std::string& payload) {
        return waitFor([&] {
            const auto found = received_.find(topic);
            return found != received_.end() && found->second == payload;
        });
    }

private:
    bool waitFor(const std::function<bool()>& condition) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
        for (;;) {
            {
                const std::lock_guard lock(mutex_);
                if (condition()) return true;
            }
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }

    mosquitto* client_;
    bool connected_ = false;
    std::mutex mutex_;
    int acknowledged_ = 0;
    int subscribed_ = 0;
    std::map<std::string, std::string> received_;
    std::map<std::string, std::vector<std::string>> history_;
    std::vector<std::string> arrivals_;
};

}  // namespace orvanta::testing
