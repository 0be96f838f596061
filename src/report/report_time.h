// The times a report is asked for and the times and durations it prints.
#pragma once

#include <optional>
#include <string>
#include <string_view>

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

}  // namespace orvanta::report
