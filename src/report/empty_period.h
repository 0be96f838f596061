// A period in which the panel recorded nothing: a report of headings alone reads as one that failed, so
// the line's own row stays, all of the period no data, and the forms say that nothing was recorded.
#pragma once

#include "report/line_report.h"

namespace orvanta::report {

// Once the figures are worked out and before the pictures: marks a period without a state interval or an
// alarm episode, and puts the line's row first when no record gave it one. Its name is the line's as the
// runs give it, else the file's name without its extension.
void keepLineRow(LineReport& report);

}  // namespace orvanta::report
