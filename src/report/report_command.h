// orvanta-report's command line: the files, the period and the form, and the exit status.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "history/history_records.h"

namespace orvanta::report {

inline constexpr int kExitReported = 0;
inline constexpr int kExitFileFailed = 1;  // a file could not be reported; the others were
inline constexpr int kExitUsage = 2;

// arguments without the program's name.
int runReport(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);
// The same at the time `now` (ms since 1970 UTC), from which --last counts back.
int runReport(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err,
              history::Millis now);

}  // namespace orvanta::report
