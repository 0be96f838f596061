// The exit statuses of orvanta and orvanta-sim, which scripts and service managers act on.
#pragma once

namespace orvanta {

// Exit statuses of the program.
inline constexpr int kExitOk = 0;
inline constexpr int kExitStartFailed = 1;    // the runtime could not start
inline constexpr int kExitUsage = 2;          // bad command line or plant folder
inline constexpr int kExitPlantInUse = 3;     // another orvanta runs on the same plant folder
inline constexpr int kExitInterrupted = 130;  // a second Ctrl-C while the orderly end was under way

}  // namespace orvanta
