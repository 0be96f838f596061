// orvanta --base DIR --dump-refdata: the plant's reference data as the running program reads it, as one
// JSON document, so that a plant engineer can check a configuration before the line runs.
#pragma once

#include <iosfwd>
#include <string>

#include "ports/database.h"

namespace orvanta {

// Writes the document to out and every problem to err; returns the exit status (0).
int dumpRefdata(const std::string& base, DatabaseEngine& engine, std::ostream& out, std::ostream& err);

}  // namespace orvanta
