// orvanta_soak: the long run, not part of `make test` (`make soak`).
//   orvanta_soak [--simulated-minutes M] [--rate R] [--real-minutes N] [--flood-seconds S]
//                [--phase manual|broker|flood|all]
#include <mosquitto.h>

#include <cstdlib>
#include <iostream>
#include <string>

#include "soak/broker_soak.h"
#include "soak/flood_soak.h"
#include "soak/manual_loop_soak.h"

int main(int argc, char** argv) {
    int simulatedMinutes = 75;
    int realMinutes = 10;
    int floodSeconds = 60;
    double rate = 10.0;
    std::string phase = "all";
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        const bool hasValue = i + 1 < argc;
        if (argument == "--simulated-minutes" && hasValue) {
            simulatedMinutes = std::atoi(argv[++i]);
        } else if (argument == "--real-minutes" && hasValue) {
            realMinutes = std::atoi(argv[++i]);
        } else if (argument == "--flood-seconds" && hasValue) {
            floodSeconds = std::atoi(argv[++i]);
        } else if (argument == "--rate" && hasValue) {
            rate = std::atof(argv[++i]);
        } else if (argument == "--phase" && hasValue) {
            phase = argv[++i];
        } else {
            std::cerr << "usage: orvanta_soak [--simulated-minutes M] [--rate R] [--real-minutes N]"
                         " [--flood-seconds S] [--phase manual|broker|flood|all]\n";
            return 2;
        }
    }
    if (simulatedMinutes < 11 || realMinutes < 1 || floodSeconds < 1 || floodSeconds > 3600 || rate <= 0 ||
        (phase != "manual" && phase != "broker" && phase != "flood" && phase != "all")) {
        std::cerr
            << "orvanta_soak: at least 11 simulated minutes, 1 real minute, 1 to 3600 seconds per flood,"
               " a positive rate and a phase of manual, broker, flood or all\n";
        return 2;
    }
    mosquitto_lib_init();
    bool passed = true;
    if (phase == "manual" || phase == "all")
        passed = orvanta::soak::runManualLoopSoak(simulatedMinutes, rate) && passed;
    if (phase == "broker" || phase == "all")
        passed = orvanta::soak::runBrokerSoak(realMinutes, rate) && passed;
    if (phase == "flood" || phase == "all") passed = orvanta::soak::runFloodSoak(floodSeconds) && passed;
    std::cout << (passed ? "soak passed" : "soak FAILED") << std::endl;
    mosquitto_lib_cleanup();
    return passed ? 0 : 1;
}
