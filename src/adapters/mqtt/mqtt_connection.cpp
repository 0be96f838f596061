#include "adapters/mqtt/mqtt_connection.h"

#include <mosquitto.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
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

// Errors after which the library's network thread ends instead of reconnecting.
bool endsNetworkThread(int rc) {
    switch (rc) {
        case MOSQ_ERR_NOMEM:
        case MOSQ_ERR_PROTOCOL:
        case MOSQ_ERR_INVAL:
        case MOSQ_ERR_NOT_FOUND:
        case MOSQ_ERR_TLS:
        case MOSQ_ERR_PAYLOAD_SIZE:
        case MOSQ_ERR_NOT_SUPPORTED:
        case MOSQ_ERR_AUTH:
        case MOSQ_ERR_ACL_DENIED:
        case MOSQ_ERR_UNKNOWN:
        case MOSQ_ERR_EAI:
        case MOSQ_ERR_PROXY:
        case MOSQ_ERR_MALFORMED_PACKET:
            return true;
        default:
            return false;
    }
}

std::string seconds(std::chrono::milliseconds time) {
    const auto count = time.count();
    if (count % 1000 == 0) return std::to_string(count / 1000) + " s";
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(count) / 1000.0);
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

void MqttConnection::subscribeNewest(std::string filter, Decoder decoder) {
    if (!started_) subscriptions_.push_back(Subscription{std::move(filter), std::move(decoder), true});
}

void MqttConnection::onSynchronised(std::function<void()> handler) {
    synchronisedHandlers_.push_back(std::move(handler));
}

void MqttConnection::onConnected(std::function<void()> handler) {
    connectedHandlers_.push_back(std::move(handler));
}

void MqttConnection::onLost(std::function<void()> handler) { lostHandlers_.push_back(std::move(handler)); }

void MqttConnection::post(std::function<void()> task) { intake_.post(lifetime_.guard(std::move(task))); }

void MqttConnection::report(std::string message) {
    post([this, message = std::move(message)] {
        if (reportError_) reportError_(message);
    });
}

void MqttConnection::notice(std::string message) {
    post([this, message = std::move(message)] {
        if (reportError_) reportError_.notice(message);
    });
}

std::string MqttConnection::broker() const { return settings_.host + ":" + std::to_string(settings_.port); }

std::string MqttConnection::lastFailure() {
    const std::lock_guard lock(mutex_);
    return lastFailure_;
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
    mosquitto_log_callback_set(client, &MqttConnection::onLog);
    mosquitto_reconnect_delay_set(client, static_cast<unsigned>(settings_.reconnectDelayMin.count()),
                                  static_cast<unsigned>(settings_.reconnectDelayMax.count()), true);
    int rc = mosquitto_will_set(client, presenceTopic_.c_str(), 5, "false", 1, true);
    if (rc == MOSQ_ERR_SUCCESS && !settings_.username.empty())
        rc = mosquitto_username_pw_set(client, settings_.username.c_str(),
                                       settings_.password.empty() ? nullptr : settings_.password.c_str());
    if (rc == MOSQ_ERR_SUCCESS && !settings_.caFile.empty()) {
        rc = mosquitto_tls_set(client, settings_.caFile.c_str(), nullptr, nullptr, nullptr, nullptr);
        if (rc != MOSQ_ERR_SUCCESS) {
            stop();
            return "the CA certificate " + settings_.caFile + " cannot be used for TLS (" +
                   mosquitto_strerror(rc) + ")";
        }
    }
    // A failed first attempt is retried by the network thread like a lost connection.
    if (rc == MOSQ_ERR_SUCCESS) {
        rc = mosquitto_connect_async(client, settings_.host.c_str(), settings_.port,
                                     static_cast<int>(settings_.keepAlive.count()));
        if (rc == MOSQ_ERR_ERRNO || rc == MOSQ_ERR_EAI) {
            const int error = errno;
            const std::lock_guard lock(mutex_);
            failedLocked(rc == MOSQ_ERR_EAI ? "the broker's host name " + settings_.host +
                                                  " is unknown (it cannot be resolved)"
                                            : socketFailure(error));
            rc = MOSQ_ERR_SUCCESS;
        }
    }
    if (rc == MOSQ_ERR_SUCCESS) rc = mosquitto_loop_start(client);
    if (rc != MOSQ_ERR_SUCCESS) {
        stop();
        return mosquitto_strerror(rc);
    }
    networkRunning_ = true;
    watchdog_ = std::thread([this] { watch(); });
    return std::nullopt;
}

void MqttConnection::publish(const std::string& topic, std::string payload) {
    const std::lock_guard lock(mutex_);
    if (stopping_) return;
    enqueueLocked(topic, std::move(payload));
    pumpLocked();
}

void MqttConnection::publishEvent(const std::string& topic, std::string payload) {
    const std::lock_guard lock(mutex_);
    if (stopping_) return;
    if (events_.size() >= kEventLimit) {
        ++eventsDropped_;
        if (!eventsOverflowing_)
            report("The MQTT broker " + broker() +
                   " takes the history's messages more slowly than they come (" +
                   std::to_string(kEventLimit) + " waiting); further ones are dropped until it catches up");
        eventsOverflowing_ = true;
        return;
    }
    if (eventsOverflowing_ && events_.size() < kEventLimit / 2) {
        eventsOverflowing_ = false;
        notice("The MQTT broker " + broker() + " takes the history's messages again; " +
               std::to_string(eventsDropped_) + " were dropped so far");
    }
    events_.push_back(Outgoing{topic, std::move(payload), 0, true});
    pumpLocked();
}

std::size_t MqttConnection::eventsDropped() {
    const std::lock_guard lock(mutex_);
    return eventsDropped_;
}

void MqttConnection::setPresent(bool present) {
    const std::lock_guard lock(mutex_);
    if (present_ == present || stopping_) return;
    present_ = present;
    if (connected_) {
        enqueueLocked(presenceTopic_, present ? "true" : "false");
        pumpLocked();
    }
}

void MqttConnection::enqueueLocked(const std::string& topic, std::string payload, bool first) {
    if (const auto found = waitingByTopic_.find(topic); found != waitingByTopic_.end()) {
        waiting_.erase(found->second);
        waitingByTopic_.erase(found);
    }
    const auto where = first ? waiting_.begin() : waiting_.end();
    waitingByTopic_[topic] = waiting_.insert(where, Outgoing{topic, std::move(payload)});
}

bool MqttConnection::olderCopyInFlightLocked(const std::string& topic) const {
    for (const auto& [mid, message] : inFlight_)
        if (message.topic == topic && message.connection != connections_) return true;
    return false;
}

void MqttConnection::pumpLocked() {
    // The values first: they are what a display shows now; events may come a moment later.
    while (connected_ && inFlight_.size() < kWindow && !(waiting_.empty() && events_.empty())) {
        const bool value = !waiting_.empty();
        Outgoing& next = value ? waiting_.front() : events_.front();
        // The broker keeps the order of one connection, not across connections: a copy the library sends
        // again after a reconnection must be acknowledged before a newer payload of its topic goes out, and
        // what was written later waits behind it.
        if (olderCopyInFlightLocked(next.topic)) return;
        int mid = 0;
        const int rc =
            mosquitto_publish(client_, &mid, next.topic.c_str(), static_cast<int>(next.payload.size()),
                              next.payload.data(), 1, !next.event);
        if (rc == MOSQ_ERR_NO_CONN) return;
        if (value) waitingByTopic_.erase(next.topic);
        if (rc == MOSQ_ERR_SUCCESS) {
            if (inFlight_.empty()) lastProgress_ = Clock::now();
            next.connection = connections_;
            inFlight_[mid] = std::move(next);
        } else {
            report("Publishing " + next.topic + " failed: " + mosquitto_strerror(rc));
        }
        if (value)
            waiting_.pop_front();
        else
            events_.pop_front();
    }
}

void MqttConnection::failedLocked(std::string why) {
    lastFailure_ = why;
    if (why == reportedFailure_) return;
    reportedFailure_ = why;
    report("No connection to the MQTT broker " + broker() + ": " + why + "; retrying");
}

void MqttConnection::watch() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        changed_.wait_for(lock, std::chrono::milliseconds(100));
        if (stopping_) return;
        if (restartNetwork_) {
            // The library's thread ended on an error it does not retry (a failed TLS handshake, a server
            // that is not MQTT): start it again after the shortest reconnection delay.
            restartNetwork_ = false;
            mosquitto* client = client_;
            lock.unlock();
            std::this_thread::sleep_for(settings_.reconnectDelayMin);
            // The thread ends by itself after such an error; should it still run, this ends it.
            mosquitto_disconnect(client);
            mosquitto_loop_stop(client, false);
            lock.lock();
            if (stopping_) return;
            lock.unlock();
            mosquitto_reconnect_async(client);
            const int rc = mosquitto_loop_start(client);
            lock.lock();
            if (rc != MOSQ_ERR_SUCCESS)
                report("The MQTT client's network thread cannot be started again: " +
                       std::string(mosquitto_strerror(rc)));
            continue;
        }
        if (connected_ && !stalled_ && !inFlight_.empty() &&
            Clock::now() - lastProgress_ >= settings_.ackTimeout) {
            stalled_ = true;
            // Copies of an earlier connection that the library did not send again would hold the window
            // for good: their newest payloads go out afresh.
            std::vector<int> earlier;
            for (const auto& [mid, message] : inFlight_)
                if (message.connection != connections_) earlier.push_back(mid);
            // Backwards, each to the front: they keep their order ahead of what waits.
            for (auto mid = earlier.rbegin(); mid != earlier.rend(); ++mid) {
                Outgoing& message = inFlight_[*mid];
                if (message.event)
                    events_.push_front(Outgoing{message.topic, std::move(message.payload), 0, true});
                else if (!waitingByTopic_.contains(message.topic))
                    enqueueLocked(message.topic, std::move(message.payload), true);
                inFlight_.erase(*mid);
            }
            // A stall before the last one recovered is the same trouble: dropped again without a report.
            if (!recovering_)
                report("The MQTT broker " + broker() + " has not acknowledged " +
                       std::to_string(inFlight_.size()) + " messages for " + seconds(settings_.ackTimeout) +
                       " (" + std::to_string(waiting_.size()) +
                       " more waiting); reconnecting to publish the newest values again");
            // The network thread sees the connection end and reconnects as after any loss.
            shutdown(mosquitto_socket(client_), SHUT_RDWR);
        }
    }
}

void MqttConnection::stop() {
    mosquitto* client = nullptr;
    {
        std::unique_lock lock(mutex_);
        if (stopping_) return;
        client = client_;
        if (client != nullptr && connected_) {
            enqueueLocked(presenceTopic_, "false");
            pumpLocked();
            changed_.wait_for(lock, kFlushLimit, [this] {
                return (inFlight_.empty() && waiting_.empty() && events_.empty() && syncMid_ < 0) ||
                       !connected_;
            });
        }
        stopping_ = true;
        changed_.notify_all();
    }
    if (watchdog_.joinable()) watchdog_.join();
    if (client == nullptr) return;
    mosquitto_disconnect(client);
    if (networkRunning_) mosquitto_loop_stop(client, false);
    networkRunning_ = false;
    mosquitto_destroy(client);
    lifetime_.end();
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
        report("Subscribing again to the MQTT broker's topics failed: " +
               std::string(mosquitto_strerror(rc)));
}

void MqttConnection::onConnect(mosquitto* client, void* self, int rc) {
    auto& me = *static_cast<MqttConnection*>(self);
    const std::lock_guard lock(me.mutex_);
    if (me.stopping_) return;
    if (rc != 0) {
        std::string why;
        if (rc == 2)
            why = "the broker refuses the ClientId " + me.settings_.clientId;
        else if (rc == 4 || rc == 5)
            why = me.settings_.username.empty()
                      ? "the broker refuses clients without a login (Username is empty)"
                      : "the broker refuses the login of user " + me.settings_.username;
        else
            why = "the broker refuses the connection: " + std::string(mosquitto_connack_string(rc));
        me.failedLocked(std::move(why));
        return;
    }
    // The library formats a log line for every packet while a log callback is set, a cost on every message
    // of a flood; the callback is there only for a failed TLS handshake, which comes before a connection.
    mosquitto_log_callback_set(client, nullptr);
    me.connected_ = true;
    ++me.connections_;
    me.connectedAt_ = Clock::now();
    me.lastProgress_ = me.connectedAt_;
    me.lastFailure_.clear();
    me.reportedFailure_.clear();
    me.post([&me] {
        for (const auto& handler : me.connectedHandlers_) handler();
    });
    if (me.lost_) {
        me.lost_ = false;
        if (!me.thrownOffReported_) me.notice("The connection to the MQTT broker is back");
    }
    if (me.stalled_) {
        me.stalled_ = false;
        if (!me.recovering_) me.republished_ = 0;
        me.recovering_ = true;
        me.republished_ = std::max(me.republished_, me.waiting_.size() + me.inFlight_.size());
    }
    // What was in flight went out again with the library's own copies; the newest payloads wait behind.
    if (me.present_) me.enqueueLocked(me.presenceTopic_, "true", true);
    // Before the subscriptions: the retained values they bring then already hold these messages.
    me.pumpLocked();

    std::vector<char*> filters;
    for (Subscription& subscription : me.subscriptions_) filters.push_back(subscription.filter.data());
    filters.push_back(const_cast<char*>(me.syncTopic_.c_str()));
    // QoS 0, whatever the publishers use: see the top of the header.
    int mid = 0;
    const int subscribed = mosquitto_subscribe_multiple(client, &mid, static_cast<int>(filters.size()),
                                                        filters.data(), 0, 0, nullptr);
    if (subscribed != MOSQ_ERR_SUCCESS) {
        me.report("Subscribing to the MQTT broker's topics failed: " +
                  std::string(mosquitto_strerror(subscribed)));
        return;
    }
    me.subscribeMid_ = mid;
}

void MqttConnection::onDisconnect(mosquitto* client, void* self, int rc) {
    const int error = errno;
    mosquitto_log_callback_set(client, &MqttConnection::onLog);
    auto& me = *static_cast<MqttConnection*>(self);
    const std::lock_guard lock(me.mutex_);
    const bool wasConnected = me.connected_;
    me.connected_ = false;
    me.syncMid_ = -1;
    me.changed_.notify_all();
    if (me.stopping_) return;
    if (endsNetworkThread(rc)) me.restartNetwork_ = true;
    if (!wasConnected) {
        std::string why;
        // A broker that refused the CONNECT closes the connection: its answer was reported already.
        if (rc == MOSQ_ERR_CONN_REFUSED) return;
        if (rc == MOSQ_ERR_ERRNO && error != 0) {
            me.failedLocked(me.socketFailure(error));
        } else if (rc == MOSQ_ERR_ERRNO || rc == MOSQ_ERR_CONN_LOST || rc == MOSQ_ERR_PROTOCOL ||
                   rc == MOSQ_ERR_MALFORMED_PACKET) {
            // The library ends such a connection with errno cleared: the answer was not MQTT, or none came.
            me.failedLocked("the server at " + me.broker() + " does not speak MQTT" +
                            (me.settings_.caFile.empty() ? " (or expects TLS)" : ""));
        } else {
            me.failedLocked(mosquitto_strerror(rc));
        }
        return;
    }
    me.post([&me] {
        for (const auto& handler : me.lostHandlers_) handler();
    });
    if (me.stalled_) return;  // reported by the watchdog, and its recovery is a notice of its own
    me.lost_ = true;
    if (Clock::now() - me.connectedAt_ < kShortLived) {
        if (++me.thrownOff_ >= kThrownOffLimit && !me.thrownOffReported_) {
            me.thrownOffReported_ = true;
            me.report("The MQTT broker " + me.broker() + " drops the connection right after every connect" +
                      (me.settings_.clientId.empty()
                           ? std::string()
                           : ": another client probably uses the ClientId " + me.settings_.clientId) +
                      "; retrying, without a report for each loss");
        }
    } else {
        me.thrownOff_ = 0;
        me.thrownOffReported_ = false;
    }
    if (me.thrownOffReported_ || rc == 0) return;
    me.report("The connection to the MQTT broker was lost (" + std::string(mosquitto_strerror(rc)) +
              "); reconnecting");
}

void MqttConnection::onLog(mosquitto*, void* self, int level, const char* text) {
    // A failed TLS handshake reaches no other callback, and it ends the library's network thread.
    static constexpr std::string_view kTls = "OpenSSL Error";
    if (level != MOSQ_LOG_ERR || text == nullptr || std::string_view(text).substr(0, kTls.size()) != kTls)
        return;
    auto& me = *static_cast<MqttConnection*>(self);
    const std::lock_guard lock(me.mutex_);
    if (me.stopping_ || me.connected_) return;
    std::string detail = text;
    if (const auto colon = detail.rfind(':'); colon != std::string::npos) detail = detail.substr(colon + 1);
    me.restartNetwork_ = true;
    me.failedLocked("the TLS handshake failed (" + detail +
                    "; a port without TLS, or a certificate not signed by "
                    "the CA in " +
                    me.settings_.caFile + ")");
}

std::string MqttConnection::socketFailure(int error) const {
    if (error == ECONNREFUSED)
        return "the connection was refused (no broker listens on port " + std::to_string(settings_.port) +
               ")";
    return "connecting failed: " + std::string(std::strerror(error));
}

void MqttConnection::onPublish(mosquitto*, void* self, int mid) {
    auto& me = *static_cast<MqttConnection*>(self);
    const std::lock_guard lock(me.mutex_);
    if (mid == me.syncMid_) me.syncMid_ = -1;
    if (me.inFlight_.erase(mid) > 0) {
        me.lastProgress_ = Clock::now();
        if (me.recovering_) {
            me.recovering_ = false;
            me.notice("The MQTT broker " + me.broker() + " acknowledges again; the newest values of " +
                      std::to_string(me.republished_) + " topics were published again");
        }
    }
    me.pumpLocked();
    me.changed_.notify_all();
}

void MqttConnection::onSubscribe(mosquitto*, void* self, int mid, int, const int*) {
    auto& me = *static_cast<MqttConnection*>(self);
    const std::lock_guard lock(me.mutex_);
    if (mid != me.subscribeMid_ || me.stopping_) return;
    int syncMid = 0;
    const int rc = mosquitto_publish(me.client_, &syncMid, me.syncTopic_.c_str(), 4, "sync", 1, false);
    if (rc == MOSQ_ERR_SUCCESS) me.syncMid_ = syncMid;
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
    const std::string_view payload(
        static_cast<const char*>(message->payload),
        message->payloadlen > 0 ? static_cast<std::size_t>(message->payloadlen) : 0);
    for (const Subscription& subscription : me.subscriptions_) {
        bool matches = false;
        if (mosquitto_topic_matches_sub(subscription.filter.c_str(), topic.c_str(), &matches) ==
                MOSQ_ERR_SUCCESS &&
            matches) {
            if (subscription.newestOnly) {
                // subscriptions_ stays as it is once started: the decoder outlives the work.
                me.intake_.handNewest(topic, payload.size(),
                                      me.lifetime_.guard([&decoder = subscription.decoder, topic,
                                                          payload = std::string(payload)] {
                                          if (std::function<void()> work = decoder(topic, payload)) work();
                                      }));
            } else if (std::function<void()> work = subscription.decoder(topic, payload)) {
                me.intake_.hand(topic, payload.size(), me.lifetime_.guard(std::move(work)));
            }
            return;
        }
    }
}

}  // namespace orvanta
