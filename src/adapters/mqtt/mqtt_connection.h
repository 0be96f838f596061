// One client connection to the MQTT broker, shared by everything of the program that talks over it (the
// process variables, the line), so that the broker sees one client with one identity and one presence.
//
// libmosquitto runs its own network thread. That thread never calls the logic: a subscription's decoder
// turns each message into work that is handed to the loop through a bounded intake (mqtt_intake.h), which
// keeps only the newest message per topic while the loop is behind. Decoding on the network thread keeps
// the parsing of thousands of messages a second off the loop. A subscription made with subscribeNewest is
// for topics whose newest message is all that counts (the line's description and values, large JSON): the
// network thread only copies such a payload into the intake, where it replaces the topic's waiting one,
// and the decoder runs on the loop for the message the loop takes. The network thread then reads a flood
// of them as fast as the broker sends it; a reader that falls behind makes the broker drop what it queues
// for this client, acknowledgements included (see the watchdog below), which stops every publish of the
// panel for the watchdog's time.
//
// What the program publishes goes out through a queue of its own: at most kWindow messages are handed to
// the client library at a time (fewer than its in-flight maximum, so its own unbounded queue is never
// used); the rest wait as the newest payload per topic, a topic written again moving to the end, so the
// latest writes reach the broker in the order they were last made and memory is bounded by the number of
// topics. The library sends its own unacknowledged copies again after a reconnection; a message whose
// topic has such a copy of an earlier connection waits for that copy's acknowledgement, so that an old
// value never arrives after a newer one.
//
// A watchdog covers a broker that stops acknowledging: mosquitto (2.0.11 at least) drops every packet,
// acknowledgements included, for a client whose outgoing queue holds max_queued_messages (1000) packets,
// which a flood to a subscriber that reads more slowly than the flood arrives does; the acknowledgements
// it dropped never come, the client library keeps those messages in flight and sends nothing more. When
// acknowledgements are outstanding and none came for settings().ackTimeout, the connection says so once,
// drops the connection and reconnects; the newest payload of every topic is then published again.
//
// Failures to connect are reported once per cause, in words a plant engineer can act on (refused, unknown
// host, TLS, not MQTT, login or ClientId refused). Connections that the broker drops right after every
// connect, as it does when another client connects with the same ClientId, are said once, not per loss.
//
// After every connect the connection announces its presence (while present), sends what waits (the newest
// payload per topic), subscribes, and then publishes a message to a topic of its own. The broker delivers
// that message after the retained messages of the subscriptions, and the loop runs posted work in order, so
// when its echo is handled everything the broker held is in: the synchronised handlers run then.
//
// The subscriptions are QoS 0. Every connect brings the newest value of every topic again as a retained
// message, so acknowledgements on the way in would protect nothing, and they cost messages: a broker
// holds only so many unacknowledged QoS 1 messages per subscriber (mosquitto: 20 in flight and 1000
// queued) and drops the rest, so a burst from a fast QoS 1 publisher can leave the copy without the newest
// values of its variables. QoS 0 messages to a connected subscriber are not dropped that way.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

#include "adapters/mqtt/mqtt_intake.h"
#include "adapters/mqtt/mqtt_settings.h"
#include "core/error_reporter.h"
#include "core/event_loop.h"
#include "core/lifetime.h"

struct mosquitto;
struct mosquitto_message;

namespace orvanta {

class MqttConnection {
public:
    // Network thread (the loop for subscribeNewest): the work for the loop that a message brings (topic is
    // the whole topic), or an empty function when there is nothing to do. It must not touch anything the
    // loop owns.
    using Decoder = std::function<std::function<void()>(const std::string& topic, std::string_view payload)>;

    // presenceTopic: retained "true" while connected and present, "false" as the last will and when the
    // connection is stopped or no longer present. reportError is called on the loop.
    MqttConnection(EventLoop& loop, MqttSettings settings, std::string presenceTopic,
                   ErrorReporter reportError);
    ~MqttConnection();
    MqttConnection(const MqttConnection&) = delete;
    MqttConnection& operator=(const MqttConnection&) = delete;

    const MqttSettings& settings() const { return settings_; }
    EventLoop& loop() const { return loop_; }
    // PREFIX/below.
    std::string topic(std::string_view below) const;

    // Before start(). filter is a whole topic filter (with the prefix).
    void subscribe(std::string filter, Decoder decoder);
    // The same for topics of which only the newest message counts (see the top).
    void subscribeNewest(std::string filter, Decoder decoder);
    // Loop: after every connect, once the retained messages of the subscriptions are in.
    void onSynchronised(std::function<void()> handler);
    // Loop: at every connect, before anything the new connection brings.
    void onConnected(std::function<void()> handler);
    // Loop: when a connection that was up is lost.
    void onLost(std::function<void()> handler);

    // Starts connecting in the background (a failed connection is retried with backoff, like a lost one;
    // each new reason for a failure is reported once, in its own words). The reason when the client cannot
    // even be set up; then nothing runs. A second start does nothing.
    std::optional<std::string> start();
    bool started() const { return started_; }
    // Why the latest attempt to connect failed, empty when none did since the last connect.
    std::string lastFailure();

    // Retained, QoS 1, through the bounded queue above.
    void publish(const std::string& topic, std::string payload);
    // Not retained, QoS 1: a message that tells of an event (the history), where every message counts and
    // none replaces another. They wait in order of their own, behind the values, at most kEventLimit;
    // beyond that a message is dropped and counted, said once per burst.
    void publishEvent(const std::string& topic, std::string payload);
    std::size_t eventsDropped();
    void setPresent(bool present);
    // Loop: asks the broker for every retained value again (by subscribing again), at most once every
    // few seconds; for values whose messages were not kept.
    void refetch() { intake_.refetch(); }
    // Waits (at most kFlushLimit) until the broker has acknowledged everything published, so that the
    // last writes before an orderly end are not lost; then announces the absence, disconnects and ends
    // the network thread. Nothing is posted after it.
    void stop();

    static constexpr std::chrono::milliseconds kFlushLimit{3000};
    // Messages handed to the client library at a time; its in-flight maximum is 20, and the message of the
    // connection's own topic goes beside these.
    static constexpr std::size_t kWindow = 16;
    static constexpr std::size_t kEventLimit = 10000;
    // A connection lost this soon after it was made counts as thrown off; kThrownOffLimit of them in a
    // row mean that the broker drops it on purpose (most often: another client with the same ClientId).
    static constexpr std::chrono::milliseconds kShortLived{3000};
    static constexpr int kThrownOffLimit = 3;

private:
    using Clock = std::chrono::steady_clock;
    struct Subscription {
        std::string filter;
        Decoder decoder;
        bool newestOnly = false;
    };
    struct Outgoing {
        std::string topic;
        std::string payload;
        int connection = 0;  // the connection it was handed to the library on
        bool event = false;  // from publishEvent
    };

    void post(std::function<void()> task);
    void report(std::string message);
    void notice(std::string message);
    std::string broker() const;
    // mutex_ held.
    void enqueueLocked(const std::string& topic, std::string payload, bool first = false);
    void pumpLocked();
    bool olderCopyInFlightLocked(const std::string& topic) const;
    void failedLocked(std::string why);
    std::string socketFailure(int error) const;
    void watch();
    // Loop: subscribes again, so that the broker sends every retained value again.
    void resubscribe();

    // Network thread.
    static void onConnect(mosquitto* client, void* self, int rc);
    static void onDisconnect(mosquitto* client, void* self, int rc);
    static void onPublish(mosquitto* client, void* self, int mid);
    static void onSubscribe(mosquitto* client, void* self, int mid, int count, const int* granted);
    static void onMessage(mosquitto* client, void* self, const mosquitto_message* message);
    static void onLog(mosquitto* client, void* self, int level, const char* text);

    EventLoop& loop_;
    const MqttSettings settings_;
    const std::string presenceTopic_;
    const std::string syncTopic_;
    ErrorReporter reportError_;
    std::vector<Subscription> subscriptions_;  // fixed once started
    std::vector<std::function<void()>> connectedHandlers_;
    std::vector<std::function<void()>> synchronisedHandlers_;
    std::vector<std::function<void()>> lostHandlers_;
    bool started_ = false;
    bool networkRunning_ = false;
    std::thread watchdog_;

    // Shared with the network thread.
    std::mutex mutex_;
    mosquitto* client_ = nullptr;
    bool connected_ = false;
    bool lost_ = false;  // the connection went away after it had been up
    bool stopping_ = false;
    bool present_ = true;
    int subscribeMid_ = -1;
    int syncMid_ = -1;  // the connection's own message while unacknowledged
    // Waiting: the newest payload per topic, in the order of the last writes.
    std::list<Outgoing> waiting_;
    std::unordered_map<std::string, std::list<Outgoing>::iterator> waitingByTopic_;
    std::deque<Outgoing> events_;  // from publishEvent, in order
    std::size_t eventsDropped_ = 0;
    bool eventsOverflowing_ = false;    // dropping since the queue was last below half its limit
    std::map<int, Outgoing> inFlight_;  // message id -> handed to the library, not yet acknowledged
    int connections_ = 0;               // connects so far
    Clock::time_point lastProgress_;    // the last acknowledgement, or when the window was filled from empty
    std::condition_variable changed_;   // an acknowledgement, a lost connection, the stop
    bool stalled_ = false;              // the watchdog dropped the connection: no "lost" report for it
    bool recovering_ = false;           // reconnected after a stall: a notice at the first acknowledgement
    std::size_t republished_ = 0;
    Clock::time_point connectedAt_;
    int thrownOff_ = 0;  // short-lived connections in a row
    bool thrownOffReported_ = false;
    bool restartNetwork_ = false;  // the library's network thread ended on an error it does not retry
    std::string lastFailure_;
    std::string reportedFailure_;

    MqttIntake intake_;
    Lifetime lifetime_;
};

}  // namespace orvanta
