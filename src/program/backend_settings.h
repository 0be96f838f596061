// Which backend carries the panel's process variables and line display, and how to reach the MQTT broker
// when that is the one: sections [Runtime] and [Mqtt] of the program's own Orvanta.ini, with the command
// line able to override the backend; and [History], where the line's history is kept.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "adapters/mqtt/mqtt_settings.h"

namespace orvanta {

enum class BackendKind { Embedded, Mqtt };

// [History]: the line's history file.
struct HistorySettings {
    bool enabled = true;
    std::string file = "History.db";  // a relative name lies in the plant folder
    int retentionDays = 400;          // 0: kept for ever
};

// [Web]: the live line page. No Listen: no page.
struct WebSettings {
    bool enabled = false;
    std::string address;          // as written, without the brackets of an IPv6 address
    int port = 0;                 // 0: a free port, chosen when the page starts
    std::string token;            // required beyond the loopback
    std::string certificateFile;  // both: HTTPS; found whatever the case of their names
    std::string keyFile;
};

// Also [History] and [Web], read and checked in the same place, so that every mistake in the file stops
// the start.
struct BackendSettings {
    BackendKind kind = BackendKind::Embedded;
    MqttSettings mqtt;
    HistorySettings history;
    WebSettings web;
};

// The backend named `name` ("embedded" or "mqtt", in any ASCII case), or nothing.
std::optional<BackendKind> backendKindNamed(std::string_view name);

// The settings in `iniFile` (looked up without regard to case); a missing file, section, entry or an empty
// value gives the default. `override` (from the command line) takes the place of [Runtime] Backend.
// Every entry is checked, whichever backend is chosen, and a wrong one throws VbError 5 whose description
// names the file, the section, the entry and the value.
BackendSettings loadBackendSettings(const std::string& iniFile, std::optional<BackendKind> override);

}  // namespace orvanta
