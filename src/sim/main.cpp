#include <iostream>
#include <string>
#include <vector>

#include "sim/sim_app.h"

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    return orvanta::runOrvantaSim(arguments, std::cout, std::cerr);
}
