// The composition root: reads the command line, picks the backends, wires the forms to them and runs
// the loop until the program ends.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "program/exit_status.h"

namespace orvanta {

int runOrvanta(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);

}  // namespace orvanta
