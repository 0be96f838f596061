// What the MQTT network thread hands the loop, bounded.
//
// The network thread decodes each message into work for the loop and hands it here with its topic. The
// loop takes the work in batches (a posted drain task that posts itself again while work is left), so
// the timers run between batches however fast messages come.
//
// While the loop keeps up, every message's work runs, in the order the messages arrived. When more than
// `behind` are waiting, the loop is behind and the intake is overloaded: a message for a topic that has
// work waiting replaces that topic's newest waiting work in its place (the loop only ever needs the
// newest value of a topic), and a message for a new topic is dropped when maxTopics topics already wait
// or the waiting work would cost more than maxBytes (a payload counted at 16 bytes a byte, what it may
// cost decoded; a message that would pass the bound even in place of its topic's waiting work is dropped).
// The overload ends when the loop has taken everything. A flood makes the loop fall behind and catch up
// again many times a second, so overloads that follow each other within `calm` count as one: it is
// reported once when it begins (an error) and once when the loop has kept up for `calm` (a notice), with
// the number of messages replaced and dropped.
//
// A dropped message may have been the newest value of its topic. So when an overload that dropped
// messages ends, the intake asks for the values again (the connection subscribes again, and the broker
// sends the retained value of every topic): at most once every refetchSpacing, later if need be.
//
// Ordered work (connection events, reports) is never replaced or dropped and keeps its place among the
// messages, so that, for instance, the end of the retained messages is handled after them.
//
// A topic whose every message carries the whole state (the line's description and values) needs nothing
// but its newest message, however well the loop keeps up: handNewest replaces the topic's waiting work in
// its place at all times, without counting it as an overload. A flood of such a topic thus costs the loop
// one run per batch, not one per message, and never makes the loop fall behind.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "core/error_reporter.h"
#include "core/event_loop.h"
#include "core/lifetime.h"

namespace orvanta {

class MqttIntake {
public:
    struct Limits {
        std::size_t behind = 1000;         // waiting work beyond which the loop counts as behind
        std::size_t maxTopics = 10000;     // topics with work waiting, while overloaded
        std::size_t maxBytes = 64u << 20;  // what the waiting work may cost, while overloaded
        std::size_t batch = 256;           // work taken per batch
        std::chrono::milliseconds refetchSpacing{10000};
        std::chrono::milliseconds calm{5000};  // kept up this long: the overload is over
    };

    MqttIntake(EventLoop& loop, ErrorReporter report, Limits limits);
    MqttIntake(EventLoop& loop, ErrorReporter report) : MqttIntake(loop, std::move(report), Limits{}) {}
    ~MqttIntake();
    MqttIntake(const MqttIntake&) = delete;
    MqttIntake& operator=(const MqttIntake&) = delete;

    // Loop: what asks the broker for every value again after messages were dropped.
    void onRefetch(std::function<void()> refetch) { refetch_ = std::move(refetch); }

    // Any thread: a message's work; bytes is what it holds (its payload), for the bound.
    void hand(const std::string& topic, std::size_t bytes, std::function<void()> work);
    // Any thread: the same for a topic of which only the newest message matters (see the top).
    void handNewest(const std::string& topic, std::size_t bytes, std::function<void()> work);
    // Any thread: work that keeps its place and is never replaced or dropped.
    void post(std::function<void()> work);
    // Loop: asks for the values again now, or as soon as the spacing allows.
    void refetch();

private:
    struct Entry {
        std::string topic;  // empty: ordered work
        std::size_t bytes = 0;
        std::function<void()> work;
    };
    using Entries = std::list<Entry>;

    void append(Entry entry);                       // mutex_ held
    void handLocked(Entry entry, bool newestOnly);  // mutex_ held
    void drain();
    void refetchNow();
    void overloadOver();

    EventLoop& loop_;
    ErrorReporter report_;
    const Limits limits_;
    std::function<void()> refetch_;

    std::mutex mutex_;
    Entries waiting_;
    std::unordered_map<std::string, Entries::iterator> newest_;  // topic -> its newest waiting work
    std::size_t bytes_ = 0;
    bool drainPosted_ = false;
    bool overloaded_ = false;
    bool beginReported_ = false;
    std::uint64_t replaced_ = 0;
    std::uint64_t dropped_ = 0;

    // Loop thread only.
    std::int64_t lastRefetchMs_ = std::numeric_limits<std::int64_t>::min() / 2;  // never
    std::unique_ptr<Timer> refetchTimer_;
    bool episode_ = false;  // an overload was reported and its end not yet
    std::uint64_t episodeReplaced_ = 0;
    std::uint64_t episodeDropped_ = 0;
    std::unique_ptr<Timer> calmTimer_;

    Lifetime lifetime_;
};

}  // namespace orvanta
