#include "components/mqtt/mqtt_connection.h"

#include <mosquitto.h>

#include <cstdio>
#include <random>
#include <utility>

namespace orvanta {
namespace {

void initialiseLibrary() {
    static const int once = mosquitto_lib_init();
    (void)once;
}

std::string uniqueSuffix() {
    std::random_device random;
    std::uniform_int_distribution<std::uint64_t> any;
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(any(random)));
    return text;
}

}  // namespace

MqttConnection::MqttConnection(EventLoop& loop, MqttSettings settings, std::string presenceTopic,
                               ErrorReporter reportError)
    : loop_(loop),
      settings_(std::move(settings)),
      presenceTopic_(std::move(presenceTopic)),
      syncTopic_(settings_.topicPrefix + "/sync/" + uniqueSuffix()),
      reportError_(std::move(reportError)),
      intake_(loop, reportError_) {
    intake_.onRefetch([this] { resubscribe(); });
}

MqttConnection::~MqttConnection() { stop(); }

std::string MqttConnection::topic(std::string_view below) const {
    return settings_.topicPrefix + "/" + std::string(below);
}

void MqttConnection::subscribe(std::string filter, Decoder decoder) {
    if (!started_) subscriptions_.push_back(Subscription{std::move(filter), std::move(decoder)});
}

void MqttConnection::onSynchronised(std::function<void()> handler) {
    synchronisedHandlers_.push_back(std::move(handler));
}

void MqttConnection::onConnected(std::function<void()> handler) {
    connectedHandlers_.push_back(std::move(handler));
}

void MqttConnection::onLost(std::function<void()> handler) { lostHandlers_.push_back(std::move(handler)); }

void MqttConnection::post(std::function<void()> task) {
    intake_.post([alive = std::weak_ptr<int>(alive_), task = std::move(task)] {
        if (!alive.expired()) task();
    });
}

void MqttConnection::report(std::string message) {
    post([this, message = std::move(message)] {
        if (reportError_) reportError_(message);
    });
}

std::optional<std::string> MqttConnection::start() {
    if (started_) return std::nullopt;
    started_ = true;
    initialiseLibrary();

    mosquitto* client =
        mosquitto_new(settings_.clientId.empty() ? nullptr : settings_.clientId.c_str(), true, this);
    if (client == nullptr) return "the MQTT client could not be created";
    {
        const std::lock_guard lock(mutex_);
        client_ = client;
    }
    mosquitto_connect_callback_set(client, &MqttConnection::onConnect);
    mosquitto_disconnect_callback_set(client, &MqttConnection::onDisconnect);
    mosquitto_subscribe_callback_set(client, &MqttConnection::onSubscribe);
    mosquitto_publish_callback_set(client, &MqttConnection::onPublish);
    mosquitto_message_callback_set(client, &MqttConnection::onMessage);
    mosquitto_reconnect_delay_set(client, static_cast<unsigned>(settings_.reconnectDelayMin.count()),
                                  static_cast<unsigned>(settings_.reconnectDelayMax.count()), true);
    int rc = mosquitto_will_set(client, presenceTopic_.c_str(), 5, "false", 1, true);
    if (rc == MOSQ_ERR_SUCCESS && !settings_.username.empty())
        rc = mosquitto_username_pw_set(client, settings_.username.c_str(),
                                       settings_.password.empty() ? nullptr : settings_.password.c_str());
    if (rc == MOSQ_ERR_SUCCESS && !settings_.caFile.empty())
        rc = mosquitto_tls_set(client, settings_.caFile.c_str(), nullptr, nullptr, nullptr, nullptr);
    // A refused first attempt is retried by the network thread like a lost connection.
    if (rc == MOSQ_ERR_SUCCESS) {
        rc = mosquitto_connect_async(client, settings_.host.c_str(), settings_.port,
                                     static_cast<int>(settings_.keepAlive.count()));
        if (rc == MOSQ_ERR_ERRNO || rc == MOSQ_ERR_EAI) rc = MOSQ_ERR_SUCCESS;
    }
    if (rc == MOSQ_ERR_SUCCESS) rc = mosquitto_loop_start(client);
    if (rc != MOSQ_ERR_SUCCESS) {
        stop();
        return mosquitto_strerror(rc);
    }
    networkRunning_ = true;
    return std::nullopt;
}

void MqttConnection::publish(const std::string& topic, std::string payload) {
    const std::lock_guard lock(mutex_);
    if (connected_) {
        publishLocked(topic, payload);
    } else if (!stopping_) {
        pending_[topic] = std::move(payload);
    }
}

void MqttConnection::setPresent(bool present) {
    const std::lock_guard lock(mutex_);
    if (present_ == present) return;
    present_ = present;
    if (connected_) publishLocked(presenceTopic_, present ? "true" : "false");
}

void MqttConnection::stop() {
    mosquitto* client = nullptr;
    {
        std::unique_lock lock(mutex_);
        if (stopping_) return;
        client = client_;
        if (client != nullptr && connected_) {
            publishLocked(presenceTopic_, "false");
            acknowledged_.wait_for(lock, kFlushLimit, [this] { return unacknowledged_ == 0 || !connected_; });
        }
        stopping_ = true;
    }
    if (client == nullptr) return;
    mosquitto_disconnect(client);
    if (networkRunning_) mosquitto_loop_stop(client, false);
    networkRunning_ = false;
    {
        const std::lock_guard lock(mutex_);
        client_ = nullptr;
        connected_ = false;
    }
    mosquitto_destroy(client);
    alive_.reset();
}

void MqttConnection::publishLocked(const std::string& topic, const std::string& payload) {
    const int rc = mosquitto_publish(client_, nullptr, topic.c_str(), static_cast<int>(payload.size()),
                                     payload.data(), 1, true);
    if (rc == MOSQ_ERR_SUCCESS) {
        ++unacknowledged_;
    } else if (rc == MOSQ_ERR_NO_CONN) {
        pending_[topic] = payload;
    } else if (rc != MOSQ_ERR_SUCCESS) {
        report("Publishing " + topic + " failed: " + mosquitto_strerror(rc));
    }
}

void MqttConnection::resubscribe() {
    const std::lock_guard lock(mutex_);
    if (!connected_ || stopping_) return;
    std::vector<char*> filters;
    for (Subscription& subscription : subscriptions_) filters.push_back(subscription.filter.data());
    if (filters.empty()) return;
    const int rc = mosquitto_subscribe_multiple(client_, nullptr, static_cast<int>(filters.size()),
                                                filters.data(), 0, 0, nullptr);
    if (rc != MOSQ_ERR_SUCCESS)
        report("Subscribing again to the MQTT broker's topics failed: " + std::string(mosquitto_strerror(rc)));
}

void MqttConnection::onConnect(mosquitto* client, void* self, int rc) {
    auto& me = *static_cast<MqttConnection*>(self);
    const std::lock_guard lock(me.mutex_);
    if (me.stopping_) return;
    if (rc != 0) {
        me.report("The MQTT broker refused the connection: " + std::string(mosquitto_connack_string(rc)));
        return;
    }
    me.connected_ = true;
    me.post([&me] {
        for (const auto& handler : me.connectedHandlers_) handler();
    });
    if (me.lost_) {
        me.lost_ = false;
        me.report("The connection to the MQTT broker is back");
    }
    if (me.present_) me.publishLocked(me.presenceTopic_, "true");
    // Before the subscriptions: the retained values they bring then already hold these messages.
    std::map<std::string, std::string> pending;
    pending.swap(me.pending_);
    for (const auto& [topic, payload] : pending) me.publishLocked(topic, payload);

    std::vector<char*> filters;
    for (Subscription& subscription : me.subscriptions_) filters.push_back(subscription.filter.data());
    filters.push_back(const_cast<char*>(me.syncTopic_.c_str()));
    // QoS 0, whatever the publishers use: see the top of the header.
    int mid = 0;
    const int subscribed = mosquitto_subscribe_multiple(client, &mid, static_cast<int>(filters.size()),
                                                        filters.data(), 0, 0, nullptr);
    if (subscribed != MOSQ_ERR_SUCCESS) {
        me.report("Subscribing to the MQTT broker's topics failed: " + std::string(mosquitto_strerror(subscribed)));
        return;
    }
    me.subscribeMid_ = mid;
}

void MqttConnection::onDisconnect(mosquitto*, void* self, int rc) {
    auto& me = *static_cast<MqttConnection*>(self);
    const std::lock_guard lock(me.mutex_);
    const bool wasConnected = me.connected_;
    me.connected_ = false;
    me.acknowledged_.notify_all();
    if (me.stopping_ || rc == 0 || !wasConnected) return;
    me.lost_ = true;
    me.report("The connection to the MQTT broker was lost (" + std::string(mosquitto_strerror(rc)) +
              "); reconnecting");
    me.post([&me] {
        for (const auto& handler : me.lostHandlers_) handler();
    });
}

void MqttConnection::onPublish(mosquitto*, void* self, int) {
    auto& me = *static_cast<MqttConnection*>(self);
    const std::lock_guard lock(me.mutex_);
    if (me.unacknowledged_ > 0) --me.unacknowledged_;
    me.acknowledged_.notify_all();
}

void MqttConnection::onSubscribe(mosquitto*, void* self, int mid, int, const int*) {
    auto& me = *static_cast<MqttConnection*>(self);
    const std::lock_guard lock(me.mutex_);
    if (mid != me.subscribeMid_ || me.stopping_) return;
    const int rc = mosquitto_publish(me.client_, nullptr, me.syncTopic_.c_str(), 4, "sync", 1, false);
    if (rc == MOSQ_ERR_SUCCESS) ++me.unacknowledged_;
    if (rc != MOSQ_ERR_SUCCESS && rc != MOSQ_ERR_NO_CONN)
        me.report("Publishing " + me.syncTopic_ + " failed: " + mosquitto_strerror(rc));
}

void MqttConnection::onMessage(mosquitto*, void* self, const mosquitto_message* message) {
    auto& me = *static_cast<MqttConnection*>(self);
    const std::string topic = message->topic;
    if (topic == me.syncTopic_) {
        me.post([&me] {
            for (const auto& handler : me.synchronisedHandlers_) handler();
        });
        return;
    }
    const std::string_view payload(static_cast<const char*>(message->payload),
                                   message->payloadlen > 0 ? static_cast<std::size_t>(message->payloadlen) : 0);
    for (const Subscription& subscription : me.subscriptions_) {
        bool matches = false;
        if (mosquitto_topic_matches_sub(subscription.filter.c_str(), topic.c_str(), &matches) ==
                MOSQ_ERR_SUCCESS &&
            matches) {
            if (std::function<void()> work = subscription.decoder(topic, payload))
                me.intake_.hand(topic, payload.size(), [alive = std::weak_ptr<int>(me.alive_), work = std::move(work)] {
                    if (!alive.expired()) work();
                });
            return;
        }
    }
}

}  // namespace orvanta
