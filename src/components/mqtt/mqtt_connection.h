// One client connection to the MQTT broker, shared by everything of the program that talks over it (the
// process variables, the line), so that the broker sees one client with one identity and one presence.
//
// libmosquitto runs its own network thread. That thread never calls the logic: a subscription's decoder
// turns each message into work that is handed to the loop through a bounded intake (mqtt_intake.h), which
// keeps only the newest message per topic while the loop is behind. Decoding on the network thread keeps
// the parsing of thousands of messages a second off the loop.
//
// After every connect the connection announces its presence (while present), sends what was published
// while the broker was away (the newest payload per topic), subscribes, and then publishes a message to
// a topic of its own. The broker delivers that message after the retained messages of the subscriptions,
// and the loop runs posted work in order, so when its echo is handled everything the broker held is in:
// the synchronised handlers run then.
//
// The subscriptions are QoS 0. Every connect brings the newest value of every topic again as a retained
// message, so acknowledgements on the way in would protect nothing, and they cost messages: a broker
// holds only so many unacknowledged QoS 1 messages per subscriber (mosquitto: 20 in flight and 1000
// queued) and drops the rest, so a burst from a fast QoS 1 publisher can leave the copy without the newest
// values of its variables. QoS 0 messages to a connected subscriber are not dropped that way.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "components/error_reporter.h"
#include "components/event_loop.h"
#include "components/mqtt/mqtt_intake.h"
#include "components/mqtt/mqtt_settings.h"

struct mosquitto;
struct mosquitto_message;

namespace orvanta {

class MqttConnection {
public:
    // Network thread: the work for the loop that a message brings (topic is the whole topic), or an empty
    // function when there is nothing to do. It must not touch anything the loop owns.
    using Decoder = std::function<std::function<void()>(const std::string& topic, std::string_view payload)>;

    // presenceTopic: retained "true" while connected and present, "false" as the last will and when the
    // connection is stopped or no longer present. reportError is called on the loop.
    MqttConnection(EventLoop& loop, MqttSettings settings, std::string presenceTopic, ErrorReporter reportError);
    ~MqttConnection();
    MqttConnection(const MqttConnection&) = delete;
    MqttConnection& operator=(const MqttConnection&) = delete;

    const MqttSettings& settings() const { return settings_; }
    EventLoop& loop() const { return loop_; }
    // PREFIX/below.
    std::string topic(std::string_view below) const;

    // Before start(). filter is a whole topic filter (with the prefix).
    void subscribe(std::string filter, Decoder decoder);
    // Loop: after every connect, once the retained messages of the subscriptions are in.
    void onSynchronised(std::function<void()> handler);
    // Loop: at every connect, before anything the new connection brings.
    void onConnected(std::function<void()> handler);
    // Loop: when a connection that was up is lost.
    void onLost(std::function<void()> handler);

    // Starts connecting in the background (a refused connection is retried with backoff, like a lost one).
    // The reason when the client cannot even be set up; then nothing runs. A second start does nothing.
    std::optional<std::string> start();
    bool started() const { return started_; }

    // Retained, QoS 1. While the broker is away the newest payload per topic waits for the reconnection.
    void publish(const std::string& topic, std::string payload);
    void setPresent(bool present);
    // Loop: asks the broker for every retained value again (by subscribing again), at most once every
    // few seconds; for values whose messages were not kept.
    void refetch() { intake_.refetch(); }
    // Waits (at most kFlushLimit) until the broker has acknowledged everything published, so that the
    // last writes before an orderly end are not lost; then announces the absence, disconnects and ends
    // the network thread. Nothing is posted after it.
    void stop();

    static constexpr std::chrono::milliseconds kFlushLimit{3000};

private:
    struct Subscription {
        std::string filter;
        Decoder decoder;
    };

    void post(std::function<void()> task);
    void report(std::string message);
    void publishLocked(const std::string& topic, const std::string& payload);
    // Loop: subscribes again, so that the broker sends every retained value again.
    void resubscribe();

    // Network thread.
    static void onConnect(mosquitto* client, void* self, int rc);
    static void onDisconnect(mosquitto* client, void* self, int rc);
    static void onPublish(mosquitto* client, void* self, int mid);
    static void onSubscribe(mosquitto* client, void* self, int mid, int count, const int* granted);
    static void onMessage(mosquitto* client, void* self, const mosquitto_message* message);

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

    // Shared with the network thread.
    std::mutex mutex_;
    mosquitto* client_ = nullptr;
    bool connected_ = false;
    bool lost_ = false;  // the connection went away after it had been up
    bool stopping_ = false;
    bool present_ = true;
    int subscribeMid_ = -1;
    // Published and not yet acknowledged by the broker: the client library holds at most 20 in flight
    // and queues the rest, which a disconnect would drop.
    int unacknowledged_ = 0;
    std::condition_variable acknowledged_;
    std::map<std::string, std::string> pending_;  // topic -> newest payload published while away

    MqttIntake intake_;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

}  // namespace orvanta
