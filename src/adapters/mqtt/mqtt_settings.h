// How the program reaches its MQTT broker; read from the plant's settings (see program/backend_settings.h).
#pragma once

#include <chrono>
#include <string>

namespace orvanta {

struct MqttSettings {
    std::string host = "localhost";
    int port = 1883;
    std::string clientId;  // empty: the library makes one up
    std::string username;  // empty: no login
    std::string password;
    std::string topicPrefix = "orvanta";
    std::string caFile;  // non-empty: TLS, with the broker's certificate checked against this CA
    std::chrono::seconds keepAlive{10};
    std::chrono::milliseconds startTimeout{10000};
    // Reconnection after a lost connection: the delay doubles from the first to the last.
    std::chrono::seconds reconnectDelayMin{1};
    std::chrono::seconds reconnectDelayMax{30};
    // Acknowledgements outstanding and none for this long while connected: the broker is taken to have
    // dropped them, and the connection is made again. Not a setting of the INI file.
    std::chrono::milliseconds ackTimeout{5000};
};

}  // namespace orvanta
