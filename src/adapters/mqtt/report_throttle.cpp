#include "adapters/mqtt/report_throttle.h"

#include <utility>

namespace orvanta {

ReportThrottle::ReportThrottle(EventLoop& loop, ErrorReporter report, std::size_t maxTopics,
                               std::int64_t intervalMs)
    : loop_(loop), report_(std::move(report)), maxTopics_(maxTopics), intervalMs_(intervalMs) {}

void ReportThrottle::prune(std::int64_t now) {
    if (now - lastPruneMs_ < intervalMs_) return;
    lastPruneMs_ = now;
    std::erase_if(topics_, [&](const auto& item) {
        return item.second.ignored == 0 && now - item.second.lastMs >= intervalMs_;
    });
}

void ReportThrottle::operator()(const std::string& topic, const std::string& message) {
    const std::int64_t now = loop_.nowMs();
    Entry* entry = nullptr;
    bool shared = false;
    if (const auto found = topics_.find(topic); found != topics_.end()) {
        entry = &found->second;
    } else {
        if (topics_.size() >= maxTopics_) prune(now);
        if (topics_.size() < maxTopics_) {
            entry = &topics_.emplace(topic, Entry{}).first->second;
        } else {
            entry = &shared_;
            shared = true;
        }
    }
    if (now - entry->lastMs < intervalMs_) {
        ++entry->ignored;
        return;
    }
    std::string text = message;
    if (entry->ignored > 0)
        text += " (" + std::to_string(entry->ignored) +
                (shared ? " more bad messages on other topics" : " more of this topic") +
                " ignored since the last report)";
    *entry = Entry{now, 0};
    report_(text);
}

}  // namespace orvanta
