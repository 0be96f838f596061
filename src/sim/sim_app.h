// orvanta-sim: the demo world of a plant as a process of its own, on the MQTT broker that the panel uses.
// It plays the two sides the panel talks to: the line system (the line's description, the foreign
// machines' values and the line's presence on PREFIX/line/online, whose last will says the line is gone)
// and the visualisation (heartbeat, answers to the line alarm, language changes, the own machines' alarm
// bits as process variables).
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace orvanta {

// Runs until Ctrl-C, SIGTERM or the end of --run-for; returns the exit status (the panel's: 0 after an
// orderly end, 1 when the broker could not be reached, 2 for a bad command line or plant folder, 130
// after a second Ctrl-C).
int runOrvantaSim(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);

}  // namespace orvanta
