#pragma once

namespace orvanta::soak {

// Runs the panel on the MQTT backend against a private broker, with the demo world at `rate` times its
// pace as another client, for `realMinutes` of real time while the broker is restarted several times;
// prints its figures and verdicts, returns whether every check held.
bool runBrokerSoak(int realMinutes, double rate);

}  // namespace orvanta::soak
