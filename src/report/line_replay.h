// The figures that follow the line through time (each slot's time and stops, the downtime by cause, the
// alarm load and the alarm lists), worked out by replaying each run's records in the order the panel made
// them: its state intervals and alarm episodes share one sequence, so one ordered read of each table, with
// no sort, tells which alarm led a machine at every moment. The cost grows with the rows, the memory with
// what is open at once (65 slots, 5 machines) and the number of different alarms (at most kMostAlarms).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "report/line_report.h"
#include "report/sqlite_file.h"

namespace orvanta::report {

struct RunSpan {
    std::int64_t run = 0;
    Millis started = 0;
    Millis finish = 0;                            // its end, or its last sign when it never ended
    std::vector<std::pair<Millis, Millis>> gaps;  // in order, their overlaps merged
};

struct ReplayRequest {
    Millis from = 0;
    Millis to = 0;
    int loadPhaseMinutes = 0;  // the 10-minute windows begin at :00 local time: the UTC offset's share
    int fileVersion = 0;       // 1 has no machine numbers for slots
    std::function<void(StopPart&)> stopParts;     // each part as it ends, when given
    std::function<void(EpisodeEvent&)> episodes;  // each episode raised in the period, when given
};

struct ReplayResult {
    std::vector<SlotFigures> slots;  // the line first, then own machines by number, then by slot
    std::vector<CauseDowntime> pareto;
    AlarmLoad load;
    std::vector<std::int64_t> windowCounts;  // alarms raised per window from windowStart; -1 outside runs
    Millis windowStart = 0;
    std::vector<BadActor> badActors;
    std::vector<ChatteringAlarm> chattering;
    std::int64_t chatteringNotListed = 0;
    std::vector<StandingAlarm> standing;
    std::int64_t standingNotListed = 0;
    std::int64_t damaged = 0;
    std::int64_t alarmsNotTold = 0;
};

// runs: those that overlap the period, in order of their start. The texts are left to the caller: each
// AlarmName comes back with its text key, and its text as last shown where it had one.
ReplayResult replayRuns(SqliteFile& file, const std::vector<RunSpan>& runs, const ReplayRequest& request);

}  // namespace orvanta::report
