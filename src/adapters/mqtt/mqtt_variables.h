// The process variables on an MQTT broker: variable NAME is the retained topic PREFIX/vars/NAME (QoS 1),
// its payload JSON (see mqtt_payload.h). The panel reads hundreds of variables a second, so every read is
// answered from a local copy that the subscription to PREFIX/vars/# keeps up to date; nothing waits for
// the network.
//
// The connection's network thread decodes what arrives and posts it to the loop, where the copy lives
// and the Change handlers run, one at a time, like every other handler of the panel. The start is
// complete when the connection is first synchronised: the broker's retained values are all in the copy.
//
// The panel owns the variables it writes. It reads some of them whole and writes them back changed (the
// integer arrays of the line), so on a broker that has never held one there would be nothing to change:
// such a variable starts from its catalogue value at the start, as in the embedded runtime. A variable
// the panel only reads stays without a value, and reading it an error, until someone publishes it.
//
// A write changes the copy at once and is published; while the broker is away the newest payload per
// variable waits and goes out when the connection is back. Until the broker echoes this client's latest
// write of a variable, older messages for it (its own earlier writes, or another client's that the
// broker ordered before it) do not overwrite the newer local value.
//
// A change is an event, not a state: every change of a watched variable, whether a message brought it or
// the panel wrote it, runs the watch's handler with its own value, in the order the changes were made,
// across all watches, as the embedded runtime does. Changes that come together (several messages in one
// read from the broker) are each delivered. The changes wait in one queue of this object, which a single
// posted task works off, so the loop's own queue holds one task for them however many wait. What limits
// a flood is the intake (mqtt_intake.h): while the loop is behind it keeps only the newest message per
// topic, and only then does a watch see fewer changes than the broker sent. The queue is bounded too, at
// kMaxWaitingChanges, which only handlers that write watched variables thousands of times at once reach:
// from there until it is empty a change replaces its watch's newest waiting one in its place, which is
// reported once, with the count when the queue is empty again.
//
// Memory for names is bounded: the names the panel uses (resolved, watched, written, read) are always
// kept, other names that arrive under PREFIX/vars/ only up to kMaxUnusedNames. When that limit is first
// reached it is reported, and messages for further unknown names are ignored. A name the panel takes up
// after names were ignored may have had its value among them: it gets a slot at once, the broker is asked
// for every retained value again (MqttConnection::refetch), and until the value is in, reading it is the
// error "no value" saying that the value is requested again.
//
// Reading a variable the broker has not sent is an error of the kind VbErrorKind::Awaited: the panel
// reads every second, so the variables read without a value are kept, and the wait report
// (mqtt_wait_report.h) says once which they are instead of a fault line per read.
//
// A bad payload is reported at most once a minute per variable (report_throttle.h).
//
// A broker that restarts without keeping its retained messages forgets every value. So after each
// reconnection, a variable whose latest value was written here and that the broker no longer holds is
// published again: the broker ends up holding the last value of every variable this client wrote.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "adapters/mqtt/mqtt_connection.h"
#include "adapters/mqtt/report_throttle.h"
#include "core/error_reporter.h"
#include "core/event_loop.h"
#include "core/lifetime.h"
#include "core/vb_error.h"
#include "ports/process_variables.h"
#include "ports/variable_catalogue.h"
#include "ports/watch_registry.h"

namespace orvanta {

class MqttVariables final : public ProcessVariables, public RuntimeControl {
public:
    // Subscribes to PREFIX/vars/# on the connection, which must outlive this and is started by start().
    // reportError is called on the loop. The entries of catalogue owned by the panel give the start values
    // of the variables the broker does not hold.
    MqttVariables(EventLoop& loop, MqttConnection& connection, ErrorReporter reportError,
                  const std::vector<CatalogueEntry>& catalogue = {});
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

    // Starts the connection; StartCompleted(-1) through the loop once the broker accepted it and its
    // retained values are in the copy, StartCompleted(0) after a reported reason when that has not
    // happened within the connection's start timeout. Only the first start counts.
    void start(RuntimeEvents& events) override;
    // Stops the connection (announcing the absence); RuntimeStopped follows through the loop, once.
    void StopRuntime() override;

    // The topic of a variable's value.
    std::string topicOf(std::string_view name) const;
    // The variables read since the start that the broker has still not sent, by name.
    std::vector<std::string> awaitedVariables();

    static constexpr std::size_t kMaxUnusedNames = 10000;
    // Changes waiting for their handlers beyond which a watch keeps only its newest (see the top).
    static constexpr std::size_t kMaxWaitingChanges = 4096;
    // For tests: another limit on the names kept that the panel does not use.
    void limitUnusedNames(std::size_t limit) { maxUnusedNames_ = limit; }

    struct VariableMessage {
        std::string name;
        std::optional<Variant> value;  // nothing: garbage, problem says why
        std::string payload;
        std::string problem;
    };

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
        std::optional<std::string> ownPayload;   // the payload, while the latest value is this client's write
        bool seen = false;                       // the broker sent it since the last connect
        bool used = false;                       // the panel resolved, watched, wrote or read it
    };

    Slot& slot(VariableId id);
    // Notes a read of a variable without a value, for awaitedVariables().
    void awaitedRead(std::string_view name);
    // The slot of a name the panel uses, made if need be.
    VariableId idOf(std::string_view name);
    // The slot of a name a message brings, made while the limit on unused names allows; nothing beyond.
    std::optional<VariableId> receivedId(const std::string& name);
    bool validName(std::string_view name) const;
    static VbError invalidName(std::string_view name);
    std::int16_t store(Slot& slot, const Variant& value);
    void change(Slot& slot, Variant value);
    void queueChange(WatchId watch, const Variant& value);
    void deliverChanges();
    void post(std::function<void()> task);

    // Loop thread.
    void received(VariableMessage& message);
    void connected();
    void synchronised();
    void startTimedOut();
    void startOwnedVariables();

    EventLoop& loop_;
    MqttConnection& connection_;
    ErrorReporter reportError_;
    const std::string varsPrefix_;  // PREFIX/vars/
    // Name and start value of each variable the panel owns, used once, when the start is complete.
    std::vector<std::pair<std::string, Variant>> ownedStartValues_;

    // Loop thread only.
    std::vector<Slot> slots_;
    std::unordered_map<std::string, VariableId, NameHash, std::equal_to<>> ids_;
    WatchRegistry watches_;
    struct WaitingChange {
        WatchId watch;
        Variant value;
        std::uint64_t number;  // in the order of all changes queued
    };
    std::deque<WaitingChange> changes_;
    std::unordered_map<WatchId, std::uint64_t> newestChange_;  // watch -> number of its newest waiting
    std::uint64_t changesQueued_ = 0;
    bool deliveryPosted_ = false;
    std::uint64_t changesMerged_ = 0;  // since the queue was last empty
    std::size_t maxUnusedNames_ = kMaxUnusedNames;
    std::size_t unusedNames_ = 0;
    bool namesIgnored_ = false;  // since the last refetch
    bool limitReported_ = false;
    ReportThrottle badPayloads_;
    RuntimeEvents* events_ = nullptr;
    std::unique_ptr<Timer> startTimer_;
    bool startDecided_ = false;
    bool stopped_ = false;
    std::set<std::string, std::less<>> awaited_;  // read without a value; pruned by awaitedVariables()

    Lifetime lifetime_;
};

}  // namespace orvanta
