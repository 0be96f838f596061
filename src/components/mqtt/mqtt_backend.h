// The panel's process variables and line on an MQTT broker, over one connection whose presence is the
// panel's (PREFIX/panel/online). The connection is declared first: it is destroyed last, after its users,
// and its destruction ends the network thread.
#pragma once

#include "components/embedded/variable_catalogue.h"
#include "components/error_reporter.h"
#include "components/event_loop.h"
#include "components/mqtt/mqtt_connection.h"
#include "components/mqtt/mqtt_line_source.h"
#include "components/mqtt/mqtt_variables.h"

namespace orvanta {

struct MqttBackend {
    MqttBackend(EventLoop& loop, const MqttSettings& settings, const ErrorReporter& report)
        : connection(loop, settings, settings.topicPrefix + "/panel/online", report),
          variables(loop, connection, report, builtinVariables()),
          line(connection, report) {}
    MqttConnection connection;
    MqttVariables variables;
    MqttLineSource line;
};

}  // namespace orvanta
