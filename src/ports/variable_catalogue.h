// The catalogue of the embedded runtime: every variable it holds, with its type and initial value. The
// panel's own interface variables are built in; a plant adds its own (alarm words, machine status words)
// in a catalogue file. The built-in part is plain C++ and belongs to the core, so that every backend
// starts the panel's own variables from the same values.
//
// A variable's type is fixed by its declaration. Whatever is written to it is converted to that type
// with the dialect's conversions, as the original runtime did for its typed variables: 2.5 written to an
// integer is stored as 2, "12abc" is a type mismatch, 70000 an overflow.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/variant.h"

namespace orvanta {

enum class VariableType { Integer, Long, Double, Boolean, String, IntegerArray };

struct CatalogueEntry {
    std::string name;
    VariableType type = VariableType::Integer;
    std::int32_t elementCount = 0;  // for arrays
    Variant initialValue;           // Empty: the type's zero (0, 0.0, False, "", all elements 0)
    // The panel writes it: its value starts here on every backend. The others (the visualisation's
    // replies, the heartbeat, the plant's alarm words) are someone else's to publish.
    bool ownedByPanel = false;
};

// The largest integer array the runtime holds; the panel's own arrays have 64 elements.
inline constexpr std::int32_t kMaxArrayElements = 4096;

// The component name in the errors of the embedded runtime and its catalogue.
inline constexpr const char* kEmbeddedRuntimeSource = "EmbeddedRuntime";

// The variables the panel reads, writes and watches, with zero or empty initial values; those it writes
// are marked ownedByPanel.
std::vector<CatalogueEntry> builtinVariables();

// The type as the catalogue file spells it: "integer", "long", "double", "boolean", "string", "integer[]".
std::string_view typeName(VariableType type);

// The zero value of a type: 0, 0.0, False, "" or an array of elementCount zeros.
Variant zeroValue(VariableType type, std::int32_t elementCount);

// value converted to the declared type of the variable called name. Throws VbError naming the variable:
// the conversion's number (6, 13, 94) when a value does not convert, 13 when a non-array goes to an
// array, 9 when an array has the wrong number of elements, 5 when elementCount is outside 1..4096.
Variant convertToDeclaredType(std::string_view name, VariableType type, std::int32_t elementCount,
                              const Variant& value);

// The built-in variables followed by the plant's. A plant may declare a built-in variable again with the
// same type (and element count), which gives it the plant's initial value; a different type is an error
// naming the variable, because the panel's interface variables have fixed types. plantOrigin (the
// catalogue file) goes into the message when given.
std::vector<CatalogueEntry> mergeCatalogues(std::vector<CatalogueEntry> builtin,
                                            std::vector<CatalogueEntry> plant,
                                            std::string_view plantOrigin = {});

}  // namespace orvanta
