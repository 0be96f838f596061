// The catalogue of the embedded runtime: every variable it holds, with its type and initial value. The
// panel's own interface variables are built in; a plant adds its own (alarm words, machine status words)
// in a catalogue file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "components/variant.h"

namespace orvanta {

enum class VariableType { Integer, Long, Double, Boolean, String, IntegerArray };

struct CatalogueEntry {
    std::string name;
    VariableType type = VariableType::Integer;
    std::int32_t elementCount = 0;  // for arrays
    Variant initialValue;
};

// The variables the panel reads, writes and watches, with zero or empty initial values.
std::vector<CatalogueEntry> builtinVariables();

}  // namespace orvanta
