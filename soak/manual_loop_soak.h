#pragma once

namespace orvanta::soak {

// Runs the panel on the demo plant with the demo world at `rate` times its pace on the manual loop for
// `simulatedMinutes`; prints its figures and verdicts, returns whether every check held.
bool runManualLoopSoak(int simulatedMinutes, double rate);

}  // namespace orvanta::soak
