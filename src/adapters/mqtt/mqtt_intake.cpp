#include "adapters/mqtt/mqtt_intake.h"

#include <optional>
#include <utility>
#include <vector>

namespace orvanta {
namespace {

// What an entry costs besides its payload and topic (the list node, the work's closure, the index).
constexpr std::size_t kEntryOverhead = 128;
// The work holds the payload decoded: an array of numbers costs a value of 40 bytes for every two or
// three bytes of text, so a payload byte is counted as what it may cost decoded.
constexpr std::size_t kDecodedPerPayloadByte = 16;

}  // namespace

MqttIntake::MqttIntake(EventLoop& loop, ErrorReporter report, Limits limits)
    : loop_(loop), report_(std::move(report)), limits_(limits) {
    refetchTimer_ = std::make_unique<Timer>(loop_, "MqttRefetch",
                                            static_cast<std::int32_t>(limits_.refetchSpacing.count()),
                                            [this] { refetchNow(); });
    calmTimer_ = std::make_unique<Timer>(loop_, "MqttCalm", static_cast<std::int32_t>(limits_.calm.count()),
                                         [this] { overloadOver(); });
}

MqttIntake::~MqttIntake() = default;

void MqttIntake::append(Entry entry) {
    bytes_ += entry.bytes;
    waiting_.push_back(std::move(entry));
    if (!waiting_.back().topic.empty()) newest_[waiting_.back().topic] = std::prev(waiting_.end());
    if (drainPosted_) return;
    drainPosted_ = true;
    loop_.post(lifetime_.guard([this] { drain(); }));
}

void MqttIntake::hand(const std::string& topic, std::size_t bytes, std::function<void()> work) {
    Entry entry{topic, bytes * kDecodedPerPayloadByte + topic.size() + kEntryOverhead, std::move(work)};
    const std::lock_guard lock(mutex_);
    handLocked(std::move(entry), false);
}

void MqttIntake::handNewest(const std::string& topic, std::size_t bytes, std::function<void()> work) {
    Entry entry{topic, bytes * kDecodedPerPayloadByte + topic.size() + kEntryOverhead, std::move(work)};
    const std::lock_guard lock(mutex_);
    handLocked(std::move(entry), true);
}

void MqttIntake::handLocked(Entry entry, bool newestOnly) {
    const auto found = newest_.find(entry.topic);
    const bool replace = newestOnly && found != newest_.end();
    if (!replace && !overloaded_ && waiting_.size() < limits_.behind) {
        append(std::move(entry));
        return;
    }
    if (!replace) overloaded_ = true;
    const std::size_t freed = found == newest_.end() ? 0 : found->second->bytes;
    if (bytes_ - freed + entry.bytes > limits_.maxBytes ||
        (found == newest_.end() && newest_.size() >= limits_.maxTopics)) {
        ++dropped_;
        overloaded_ = true;
        return;
    }
    if (found == newest_.end()) {
        append(std::move(entry));
        return;
    }
    if (!replace) ++replaced_;
    bytes_ = bytes_ - freed + entry.bytes;
    found->second->bytes = entry.bytes;
    found->second->work = std::move(entry.work);
}

void MqttIntake::post(std::function<void()> work) {
    const std::lock_guard lock(mutex_);
    append(Entry{std::string(), 0, std::move(work)});
}

void MqttIntake::drain() {
    for (std::size_t taken = 0; taken < limits_.batch; ++taken) {
        std::function<void()> work;
        {
            const std::lock_guard lock(mutex_);
            if (waiting_.empty()) break;
            Entry& front = waiting_.front();
            if (!front.topic.empty()) {
                const auto newest = newest_.find(front.topic);
                if (newest != newest_.end() && newest->second == waiting_.begin()) newest_.erase(newest);
            }
            bytes_ -= front.bytes;
            work = std::move(front.work);
            waiting_.pop_front();
        }
        if (work) work();
    }

    bool begun = false;
    std::optional<std::pair<std::uint64_t, std::uint64_t>> ended;  // replaced, dropped
    {
        const std::lock_guard lock(mutex_);
        if (overloaded_ && !beginReported_) begun = beginReported_ = true;
        if (overloaded_ && waiting_.empty()) {
            ended.emplace(std::exchange(replaced_, 0), std::exchange(dropped_, 0));
            overloaded_ = beginReported_ = false;
        }
        drainPosted_ = !waiting_.empty();
        if (drainPosted_) loop_.post(lifetime_.guard([this] { drain(); }));
    }
    if (begun) {
        calmTimer_->setEnabled(false);
        if (!episode_)
            report_(
                "The panel falls behind the MQTT messages: until it catches up, only the newest message "
                "of each topic is kept");
        episode_ = true;
    }
    if (!ended) return;
    episodeReplaced_ += ended->first;
    episodeDropped_ += ended->second;
    // Every overload begins before it ends, which stopped the timer: the whole calm counts from now on.
    calmTimer_->setEnabled(true);
    if (ended->second > 0) refetch();
}

void MqttIntake::overloadOver() {
    calmTimer_->setEnabled(false);
    std::string counts = std::to_string(std::exchange(episodeReplaced_, 0)) +
                         " messages were replaced by newer ones of their topic";
    if (const std::uint64_t dropped = std::exchange(episodeDropped_, 0); dropped > 0)
        counts += ", " + std::to_string(dropped) + " messages were dropped; all values are requested again";
    episode_ = false;
    report_.notice("The panel has caught up with the MQTT messages: " + counts);
}

void MqttIntake::refetch() {
    const std::int64_t now = loop_.nowMs();
    if (now - lastRefetchMs_ >= limits_.refetchSpacing.count()) {
        refetchNow();
        return;
    }
    // Too soon after the last: once the spacing is over.
    if (!refetchTimer_->enabled()) {
        refetchTimer_->setInterval(
            static_cast<std::int32_t>(limits_.refetchSpacing.count() - (now - lastRefetchMs_)));
        refetchTimer_->setEnabled(true);
    }
}

void MqttIntake::refetchNow() {
    refetchTimer_->setEnabled(false);
    lastRefetchMs_ = loop_.nowMs();
    if (refetch_) refetch_();
}

}  // namespace orvanta
