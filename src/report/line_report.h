// The figures of one history file (one line) over a period, from one replay of its records in the order they
// were made (line_replay.h). Everything here is bounded by the number of machine slots, different alarms
// and the pictures' columns, never by the number of rows in the file.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "history/history_records.h"
#include "report/zone_offsets.h"

namespace orvanta::report {

using history::Millis;

inline constexpr int kStatusCount = 7;  // 0 no data .. 6 maintenance
inline constexpr int kSlotCount = 64;   // the line display's machine slots, 0..63
inline constexpr int kFaultStatus = 4;
inline constexpr Millis kLoadWindow = 10 * 60 * 1000;
inline constexpr std::int64_t kFloodAbove = 10;  // alarms in one window
inline constexpr Millis kChatterWithin = 60 * 1000;
inline constexpr std::int64_t kChatterRaises = 3;
inline constexpr Millis kStandingLonger = 24 * 60 * 60 * 1000;
inline constexpr std::size_t kBadActorCount = 10;
inline constexpr std::size_t kListedAlarms = 100;  // chattering and standing alarms listed, the worst first
// Different alarms (or causes) told apart; a real line has at most 5 machines x 3 tables x 1000, a damaged
// file may name countless: beyond this they are counted, not told apart, so that memory stays bounded.
inline constexpr std::size_t kMostAlarms = 100'000;
// The times a report covers: a damaged file's times beyond them are clipped, so that no figure wraps around.
inline constexpr Millis kEarliestTime = 0;                  // 1970-01-01
inline constexpr Millis kLatestTime = 253'402'300'799'999;  // 9999-12-31 23:59:59.999 UTC
inline constexpr int kMostOffsetMinutes = 24 * 60;  // a UTC offset a file gives beyond this is clipped

// A sum of figures that stops at the largest value instead of wrapping around.
inline Millis saturatingSum(Millis a, Millis b) {
    Millis sum = 0;
    if (!__builtin_add_overflow(a, b, &sum)) return sum;
    return b < 0 ? std::numeric_limits<Millis>::min() : std::numeric_limits<Millis>::max();
}

// One alarm, whatever language its text was shown in: an own machine's alarm is its machine, table and
// fault; the text key and one text (in the language the report is asked for) stand beside it.
struct AlarmName {
    int machine = 0;  // own machine 1..5; 0 when the cause is a text alone (a foreign machine's message)
    int table = 0;
    int fault = 0;
    std::string textKey;
    std::string text;  // in the chosen language, else as last shown, else the text key
    bool operator==(const AlarmName&) const = default;
};

// Downtime charged to one cause: to the alarm that led the machine during each part of a stop.
struct CauseDowntime {
    AlarmName cause;  // machine 0 and an empty text: no alarm led the machine then
    Millis duration = 0;
    std::int64_t count = 0;  // the parts of stops charged to it that begin within the period
    bool operator==(const CauseDowntime&) const = default;
};

struct SlotFigures {
    int slot = 0;     // history::kLineSlot for the line
    int machine = 0;  // the own machine 1..5 the slot stands for, 0 for none (foreign, the line, older files)
    std::string name;
    bool foreign = false;
    bool sharesMachine = false;  // another slot stands for the same own machine: its slot tells them apart
    // Time per status code within the period; [0] also holds the time outside runs and inside gaps.
    std::array<Millis, kStatusCount> timeIn{};
    std::int64_t stops = 0;             // stops that begin within the period
    std::vector<CauseDowntime> causes;  // longest first

    Millis up() const { return saturatingSum(saturatingSum(timeIn[1], timeIn[2]), timeIn[3]); }
    Millis down() const { return timeIn[kFaultStatus]; }
    std::optional<double> availability() const;
    std::optional<Millis> mtbf() const;
    std::optional<Millis> mttr() const;
};

struct BadActor {
    AlarmName alarm;
    std::int64_t count = 0;
    double share = 0;  // of all alarms raised in the period
};

struct ChatteringAlarm {
    AlarmName alarm;
    std::int64_t count = 0;  // raises that belong to three or more within 60 s
    Millis first = 0;        // the first raise of the first such three
};

struct StandingAlarm {
    AlarmName alarm;
    Millis raised = 0;
    std::optional<Millis> cleared;
    Millis active = 0;  // within the period: up to the clearing, the period's end or the run's last sign
};

struct AlarmLoad {
    std::int64_t episodes = 0;  // raised within counted windows
    std::int64_t windows = 0;   // 10-minute windows that lie (partly) within a run and the period
    double mean = 0;
    std::int64_t peak = 0;
    Millis peakAt = 0;
    std::int64_t floodWindows = 0;
    double floodShare() const { return windows == 0 ? 0.0 : static_cast<double>(floodWindows) / windows; }
};

// The pictures' data, reduced to a bounded number of columns.
struct Timeline {
    Millis columnWidth = 0;
    struct Row {
        int slot = 0;
        std::string name;
        std::vector<std::uint8_t> status;  // the status that held longest in each column
        // Each status's share of each column (gaps count as no data): a year's column of 18 hours
        // shows its faults as a strip, where the status that held longest would show running only.
        std::vector<std::array<float, kStatusCount>> share;
    };
    std::vector<Row> rows;
};
struct RateColumn {
    Millis start = 0;
    std::int64_t peak = -1;  // the highest count of its windows; -1 when none lies within a run
};

struct LineReport {
    std::string file;
    std::string line;
    Millis from = 0;
    Millis to = 0;
    std::string periodName;    // as --last named the period ("shift 06:00–14:00"); empty for --from/--to
    int utcOffsetMinutes = 0;  // of the latest run: the times are printed in the line's local time
    std::string timeZone;      // the latest run's zone, when it was recorded and is known here
    std::optional<ZoneOffsets> zone;
    // The line's offset at the moment: its zone's, else the latest run's.
    int offsetAt(Millis at) const { return zone ? zone->minutesAt(at) : utcOffsetMinutes; }
    bool hasRuns = false;
    bool noRecords = false;          // no state interval nor alarm episode lies in the period
    std::vector<SlotFigures> slots;  // the line first, then by slot
    std::int64_t damaged = 0;        // state intervals of a slot outside 0..63 (and not the line): left out
    std::vector<CauseDowntime> pareto;  // every machine slot's downtime by cause, longest first
    std::int64_t alarmsNotTold = 0;     // raises of alarms beyond kMostAlarms different ones: counted only
    AlarmLoad load;
    std::vector<BadActor> badActors;
    std::vector<ChatteringAlarm> chattering;  // at most kListedAlarms, the most raises first
    std::int64_t chatteringNotListed = 0;
    std::vector<StandingAlarm> standing;  // at most kListedAlarms, the longest first
    std::int64_t standingNotListed = 0;
    Timeline timeline;
    std::vector<RateColumn> rate;
};

// A stretch of a stop charged to one cause, for the export of the stops themselves: a stop whose alarm
// changed is several, one that ran on through a gap is one before and one after it (the same stop number).
struct StopPart {
    std::int64_t stop = 0;  // numbered in the order the stops began, from 1
    int slot = 0;
    int machine = 0;
    std::string name;
    Millis began = 0;
    Millis ended = 0;
    Millis downtime = 0;  // within the period, outside gaps
    AlarmName cause;      // its text as last shown; the caller names it in the language asked for
};

// An alarm episode as recorded, for the export of the episodes themselves.
struct EpisodeEvent {
    AlarmName alarm;
    int priority = 0;
    Millis raised = 0;
    std::optional<Millis> published;
    std::optional<Millis> echoed;
    std::optional<Millis> cleared;
    bool counted = true;  // false for a message's record while it leads the line: its raise is counted once
};

struct ReportRequest {
    std::optional<Millis> from;
    std::optional<Millis> to;
    bool pictures = false;
    int timelineColumns = 480;
    int rateColumns = 480;
    int busyMillis = 2000;
    std::string language;  // the alarm texts' language ("de", "1031"); empty: the plant's first
};

// Opens the file read-only and works out its figures; throws ReportError with a message that names it.
LineReport reportOn(const std::string& path, const ReportRequest& request);

// The stops' parts and the episodes raised in the period themselves, each handed on with the line's name as
// it is read, so that an export of any length costs bounded memory. Throws as reportOn.
using StopPartOut = std::function<void(const std::string& line, const StopPart&)>;
using EpisodeOut = std::function<void(const std::string& line, const EpisodeEvent&)>;
void reportEvents(const std::string& path, const ReportRequest& request, const StopPartOut& stopPart,
                  const EpisodeOut& episode);

}  // namespace orvanta::report
