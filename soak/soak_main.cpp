// orvanta_soak: the long run, not part of `make test` (`make soak`).
//   orvanta_soak [--simulated-minutes M] [--rate R] [--real-minutes N] [--phase manual|broker|all]
#include <cstdlib>
#include <iostream>
#include <string>

#include "soak/broker_soak.h"
#include "soak/manual_loop_soak.h"

int main(int argc, char** argv) {
    int simulatedMinutes = 75;
    int realMinutes = 10;
    double rate = 10.0;
    std::string phase = "all";
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        const bool hasValue = i + 1 < argc;
        if (argument == "--simulated-minutes" && hasValue) {
            simulatedMinutes = std::atoi(argv[++i]);
        } else if (argument == "--real-minutes" && hasValue) {
            realMinutes = std::atoi(argv[++i]);
        } else if (argument == "--rate" && hasValue) {
            rate = std::atof(argv[++i]);
        } else if (argument == "--phase" && hasValue) {
            phase = argv[++i];
        } else {
            std::cerr << "usage: orvanta_soak [--simulated-minutes M] [--rate R] [--real-minutes N]"
                         " [--phase manual|broker|all]\n";
            return 2;
        }
    }
    if (simulatedMinutes < 11 || realMinutes < 1 || rate <= 0 ||
        (phase != "manual" && phase != "broker" && phase != "all")) {
        std::cerr << "orvanta_soak: at least 11 simulated minutes, 1 real minute and a positive rate\n";
        return 2;
    }
    bool passed = true;
    if (phase != "broker") passed = orvanta::soak::runManualLoopSoak(simulatedMinutes, rate) && passed;
    if (phase != "manual") passed = orvanta::soak::runBrokerSoak(realMinutes, rate) && passed;
    std::cout << (passed ? "soak passed" : "soak FAILED") << std::endl;
    return passed ? 0 : 1;
}
