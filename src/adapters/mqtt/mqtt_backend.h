// The panel's process variables and line on an MQTT broker, over one connection whose presence is the
// panel's (PREFIX/panel/online). The connection is declared first: it is destroyed last, after its users,
// and its destruction ends the network thread.
#pragma once

#include "adapters/mqtt/mqtt_connection.h"
#include "adapters/mqtt/mqtt_line_source.h"
#include "adapters/mqtt/mqtt_variables.h"
#include "core/error_reporter.h"
#include "core/event_loop.h"
#include "ports/variable_catalogue.h"

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
