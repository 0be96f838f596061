// The computer's time zone by name, for the history: a report prints a run's local times from it, across
// a change of the clocks too, which the run's one offset from UTC cannot do.
#pragma once

#include <optional>
#include <string>

namespace orvanta {

inline constexpr const char* kLocaltimeLink = "/etc/localtime";
inline constexpr const char* kTimezoneFile = "/etc/timezone";

// Where the C library finds the zone: TZ when it names one (without a leading ':'; a zone file's path
// below ".../zoneinfo/" by its name, a POSIX rule such as "CET-1CEST" as it is; set but empty is UTC),
// else the zone the localtime link points to below ".../zoneinfo/", else the first line of the timezone
// file; empty when none of them names one.
std::string timeZoneName(const std::optional<std::string>& tz, const std::string& localtimeLink,
                         const std::string& timezoneFile);

// The same for this process: TZ from its environment and the system's files.
std::string timeZoneName();

}  // namespace orvanta
