// The line's UTC offset at any moment, from the time zone its panel recorded: a report across a clock
// change shows each time as the line's clock showed it. Read from the system's zone files (TZif), without
// touching this process's own zone, which the panel's threads share.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "history/history_records.h"

namespace orvanta::report {

using history::Millis;

class ZoneOffsets {
public:
    // A zone name as recorded ("Europe/Berlin"); nullopt for a name that is no zone file of the folder (or
    // not a plain relative name: a file may hold anything) or a file that is not a zone file.
    static std::optional<ZoneOffsets> load(const std::string& name,
                                           const std::string& folder = "/usr/share/zoneinfo");
    // Minutes east of UTC at the moment.
    int minutesAt(Millis at) const;

private:
    std::vector<std::pair<Millis, int>> changes_;  // from this moment on, this offset; in order
    int before_ = 0;                               // before the first change
};

}  // namespace orvanta::report
