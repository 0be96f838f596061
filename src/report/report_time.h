// The times a report is asked for and the times and durations it prints.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "history/history_records.h"

namespace orvanta::report {

using history::Millis;

// "2026-12-07", "2026-12-07T14:00", "2026-12-07 14:00:30", each optionally followed by "Z" or an offset
// ("+01:00", "-0230"). Without a zone the time is this computer's local time. A date alone as the end of a
// period means the end of that day (endOfDay), so that --to 2026-12-07 takes the 7th in.
std::optional<Millis> parseTime(std::string_view text, bool endOfDay = false);

// "2026-12-07 14:00:00" in the time zone offsetMinutes east of UTC.
std::string formatTime(Millis at, int offsetMinutes);
// "UTC+01:00"
std::string formatOffset(int offsetMinutes);
// Hours, minutes and seconds: "0:00:05", "26:03:00", "8760:00:00".
std::string formatDuration(Millis duration);
// Seconds with milliseconds, for spreadsheets: "3600.000".
std::string formatSeconds(Millis duration);
// A number with this many decimals after a point, whatever the process's locale: the panel's windowed run
// has the user's ("0,5" in German), which would break a picture's coordinates and a spreadsheet's cells.
std::string formatFixed(double value, int decimals);

// The periods --last names, each the latest one complete before now in this computer's local time.
enum class PeriodKind { Day, Shift, Week, Month };
// "day", "shift", "week", "month"; nothing for any other text.
std::optional<PeriodKind> periodKind(std::string_view name);

// The minutes after local midnight at which each shift starts, earliest first. Each shift lasts until the
// next one starts, the last until the first of the next day.
using ShiftStarts = std::vector<int>;
inline constexpr std::string_view kDefaultShifts = "06:00,14:00,22:00";
// "06:00,14:00,22:00": times H:MM or HH:MM, blanks around each allowed, in increasing order within one
// day; nothing for any other text, an empty one among them.
std::optional<ShiftStarts> parseShiftStarts(std::string_view text);

struct NamedPeriod {
    Millis from = 0;
    Millis to = 0;
    std::string name;  // "day 2026-12-06", "shift 22:00–06:00", "week 2026-W49", "month 2026-11"
    bool operator==(const NamedPeriod&) const = default;
};
// The latest period of its kind that has ended at `now`: yesterday, the last ISO week (Monday to Monday),
// the last calendar month, the latest shift of `shifts` (which must not be empty). Local midnights come
// from the C library, so a day across a change of the clock lasts 23 or 25 hours.
NamedPeriod lastPeriod(PeriodKind kind, Millis now, const ShiftStarts& shifts);

}  // namespace orvanta::report
