#pragma once

namespace orvanta::soak {

// Runs the real panel as a process of its own on the MQTT backend against a private broker and floods it,
// `floodSeconds` each in turn, with changes of a watched variable, line values, garbage and new variable
// names; prints its figures per flood and verdicts, returns whether every check held.
bool runFloodSoak(int floodSeconds);

}  // namespace orvanta::soak
