// The composition root: reads the command line, picks the backends, wires the forms to them and runs
// the loop until the program ends.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace orvanta {

// Exit statuses of the program.
inline constexpr int kExitOk = 0;
inline constexpr int kExitStartFailed = 1;    // the runtime could not start
inline constexpr int kExitUsage = 2;          // bad command line or plant folder
inline constexpr int kExitPlantInUse = 3;     // another orvanta runs on the same plant folder
inline constexpr int kExitInterrupted = 130;  // a second Ctrl-C while the orderly end was under way

int runOrvanta(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);

}  // namespace orvanta
