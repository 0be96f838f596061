#include <iostream>

#include "report/report_command.h"

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(false);
    return orvanta::report::runReport(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr);
}
