// What the running program reports (a setting it could not use, a broker that went away, the broker
// back again) goes to standard error for a person at a terminal and into the program log, which is where
// a plant engineer looks for what happened in the night. An error is marked as one on both; a notice,
// news that needs no action, is not.
#pragma once

#include <functional>
#include <iosfwd>

#include "core/error_reporter.h"
#include "service/program_log.h"

namespace orvanta {

// log gives the log to write to at the moment of the report: none until the main form has read its log
// settings, so that a start that fails leaves the log as it was (standard error, and so the service's
// journal, has the cause), then the main form's.
ErrorReporter programReporter(std::ostream& err, std::function<ProgramLog*()> log);

}  // namespace orvanta
