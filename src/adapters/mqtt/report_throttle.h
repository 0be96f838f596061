// Bad input from the broker, reported at a bounded rate: per topic at most one report per interval (a
// minute), the next one saying how many bad payloads of that topic were ignored meanwhile. A flood of
// garbage thus costs a map lookup per message instead of a line on standard error and in the log.
//
// The bookkeeping is bounded too: at most maxTopics topics are tracked; bad payloads of further topics
// share one entry (and one report per interval). Entries whose last report is an interval old and that
// have nothing to tell are given up, at most once per interval, to make room. Time is the loop's clock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <unordered_map>

#include "core/error_reporter.h"
#include "core/event_loop.h"

namespace orvanta {

class ReportThrottle {
public:
    static constexpr std::int64_t kIntervalMs = 60000;
    static constexpr std::size_t kMaxTopics = 1000;

    ReportThrottle(EventLoop& loop, ErrorReporter report, std::size_t maxTopics = kMaxTopics,
                   std::int64_t intervalMs = kIntervalMs);

    // Loop: reports message about topic, or counts it when that topic was reported too recently.
    void operator()(const std::string& topic, const std::string& message);

private:
    // Long enough ago for any interval, and far from overflowing when subtracted from a time.
    static constexpr std::int64_t kNever = std::numeric_limits<std::int64_t>::min() / 2;
    struct Entry {
        std::int64_t lastMs = kNever;  // of the last report
        std::uint64_t ignored = 0;     // since then
    };

    void prune(std::int64_t now);

    EventLoop& loop_;
    ErrorReporter report_;
    const std::size_t maxTopics_;
    const std::int64_t intervalMs_;
    std::unordered_map<std::string, Entry> topics_;
    Entry shared_;
    std::int64_t lastPruneMs_ = kNever;
};

}  // namespace orvanta
