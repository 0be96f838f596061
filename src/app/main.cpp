#include <iostream>
#include <string>
#include <vector>

#include "app/orvanta_app.h"

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    return orvanta::runOrvanta(arguments, std::cout, std::cerr);
}
