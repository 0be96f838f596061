// The process variables on an MQTT broker: variable NAME is the retained topic PREFIX/vars/NAME (QoS 1),
// its payload JSON (see mqtt_payload.h). The panel reads hundreds of variables a second, so every read is
// answered from a local copy that the subscription to PREFIX/vars/# keeps up to date; nothing waits for
// the network.
//
// libmosquitto runs its own network thread. That thread never touches the copy or calls the panel: it
// decodes what arrives and posts it to the loop, where the copy lives and the Change handlers run, one at
// a time, like every other handler of the panel. Because the loop runs posted work in order, the start is
// reported complete by the echo of a message to a topic of this client's own, subscribed together with
// PREFIX/vars/#: the broker sends the retained values before it, so by then they are all in the copy.
//
// A write changes the copy at once and is published; while the broker is away the newest payload per
// variable waits and goes out when the connection is back. Until the broker echoes this client's latest
// write of a variable, older messages for it (its own earlier writes, or another client's that the
// broker ordered before it) do not overwrite the newer local value.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "components/error_reporter.h"
#include "components/event_loop.h"
#include "components/process_variables.h"
#include "components/vb_error.h"

struct mosquitto;
struct mosquitto_message;

namespace orvanta {

struct MqttSettings {
    std::string host = "localhost";
    int port = 1883;
    std::string clientId;  // empty: the library makes one up
    std::string username;  // empty: no login
    std::string password;
    std::string topicPrefix = "orvanta";
    std::string caFile;  // non-empty: TLS, with the broker's certificate checked against this CA
    std::chrono::seconds keepAlive{10};
    std::chrono::milliseconds startTimeout{10000};
    // Reconnection after a lost connection: the delay doubles from the first to the last.
    std::chrono::seconds reconnectDelayMin{1};
    std::chrono::seconds reconnectDelayMax{30};
};

class MqttVariables final : public ProcessVariables, public RuntimeControl {
public:
    // Nothing touches the network before start(). reportError is called on the loop.
    MqttVariables(EventLoop& loop, MqttSettings settings, ErrorReporter reportError);
    ~MqttVariables() override;
    MqttVariables(const MqttVariables&) = delete;
    MqttVariables& operator=(const MqttVariables&) = delete;

    Variant ReadVariable(std::string_view name) override;
    std::int16_t WriteVariable(std::string_view name, const Variant& value) override;
    VariableId resolve(std::string_view name) override;
    Variant read(VariableId id) override;
    std::int16_t write(VariableId id, const Variant& value) override;
    // A variable that the broker has not sent yet may be watched: its first value is a change.
    WatchId watch(std::string_view name, ChangeHandler handler) override;
    void unwatch(WatchId id) override;

    // Connects; StartCompleted(-1) through the loop once the broker accepted the connection and its
    // retained values are in the copy, StartCompleted(0) after a reported reason when that has not
    // happened within the start timeout. Only the first start counts.
    void start(RuntimeEvents& events) override;
    // Announces the panel offline, disconnects and ends the network thread; RuntimeStopped follows
    // through the loop, once.
    void StopRuntime() override;

    // The topic of a variable's value.
    std::string topicOf(std::string_view name) const;

private:
    struct NameHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view name) const { return std::hash<std::string_view>{}(name); }
    };
    struct Slot {
        std::string name;
        bool validName = false;                  // a name that cannot be a topic never reaches the broker
        std::optional<Variant> value;            // nothing: never seen
        std::optional<std::string> awaitedEcho;  // the payload of this client's latest write, until echoed
        std::vector<WatchId> watches;
    };
    struct Watch {
        VariableId variable;
        std::shared_ptr<const ChangeHandler> handler;
    };

    Slot& slot(VariableId id);
    VariableId idOf(std::string_view name);
    bool validName(std::string_view name) const;
    static VbError invalidName(std::string_view name);
    std::int16_t store(Slot& slot, const Variant& value);
    void change(Slot& slot, Variant value);
    void deliver(WatchId id, const Variant& value);
    void post(std::function<void()> task);
    void report(std::string message);

    // Loop thread, from the network thread's posts.
    void received(const std::string& name, std::optional<Variant> value, const std::string& payload,
                  const std::string& problem);
    void synchronised();
    void startTimedOut();
    void endNetwork();

    // Network thread.
    static void onConnect(mosquitto* client, void* self, int rc);
    static void onDisconnect(mosquitto* client, void* self, int rc);
    static void onSubscribe(mosquitto* client, void* self, int mid, int count, const int* granted);
    static void onMessage(mosquitto* client, void* self, const mosquitto_message* message);
    void publishLocked(const std::string& topic, const std::string& payload, bool retain);

    EventLoop& loop_;
    const MqttSettings settings_;
    ErrorReporter reportError_;
    const std::string varsPrefix_;   // PREFIX/vars/
    const std::string onlineTopic_;  // PREFIX/panel/online
    std::string syncTopic_;

    // Loop thread only.
    std::vector<Slot> slots_;
    std::unordered_map<std::string, VariableId, NameHash, std::equal_to<>> ids_;
    std::unordered_map<WatchId, Watch> watches_;
    WatchId nextWatch_ = 1;
    RuntimeEvents* events_ = nullptr;
    std::unique_ptr<Timer> startTimer_;
    bool startDecided_ = false;
    bool stopped_ = false;
    bool networkRunning_ = false;

    // Shared with the network thread.
    std::mutex mutex_;
    mosquitto* client_ = nullptr;
    bool connected_ = false;
    bool lost_ = false;  // the connection went away after it had been up
    bool stopping_ = false;
    int subscribeMid_ = -1;
    std::map<std::string, std::string> pending_;  // topic -> newest payload written while away

    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

}  // namespace orvanta
