// What a panel on a broker waits for, said to a person once, and again only when it changes.
//
// A broker that has not been sent the variables the panel reads, or a line system that has never
// published the line, is a state, not an event: every read of such a variable fails, every second, until
// the value comes (VbErrorKind::Awaited; the handler frame writes no fault line for it). This report
// looks every two seconds, from the first synchronisation on, at which variables the panel read in vain
// and which line topics never brought a message, and says so in one line when that differs from what it
// said last: which variables (and their topics), which line topics; and once, as a notice, when nothing
// is awaited any more. Two seconds let a pass and the other timers of the panel read first, so that the
// first report names all they missed rather than one line per handler.
#pragma once

#include <string>
#include <vector>

#include "adapters/mqtt/mqtt_connection.h"
#include "adapters/mqtt/mqtt_line_source.h"
#include "adapters/mqtt/mqtt_variables.h"
#include "core/error_reporter.h"
#include "core/event_loop.h"
#include "core/lifetime.h"

namespace orvanta {

class MqttWaitReport {
public:
    // All three must outlive this; report is called on the loop.
    MqttWaitReport(EventLoop& loop, MqttConnection& connection, MqttVariables& variables,
                   MqttLineSource& line, ErrorReporter report);

    static constexpr std::int32_t kCheckIntervalMs = 2000;
    // Variables named in one report; the rest are counted.
    static constexpr std::size_t kNamesShown = 20;

private:
    void check();

    MqttConnection& connection_;
    MqttVariables& variables_;
    MqttLineSource& line_;
    ErrorReporter report_;
    Timer checks_;
    std::vector<std::string> saidVariables_;
    std::vector<std::string> saidTopics_;
    Lifetime lifetime_;
};

}  // namespace orvanta
