// A process variable's value on the broker: a JSON number, string, or array of numbers or strings.
// Numbers come back as the narrowest kind the panel reads them as (a whole number that fits 16 bits is
// an Integer, a larger whole number that fits 32 bits a Long, anything else a Double), so that a value
// written and read back compares equal to the value a broker message brings.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "core/variant.h"

namespace orvanta {

// Larger payloads are refused: no value of the panel comes near it, and a runaway publisher must not
// make the panel hold megabytes per variable.
inline constexpr std::size_t kMaxVariablePayload = std::size_t{1} << 20;
// An array payload holds at most this many elements (the largest array a catalogue declares): a megabyte
// of "0," would otherwise decode to half a million values of 40 bytes each.
inline constexpr std::size_t kMaxVariableArrayElements = 4096;

inline constexpr const char* kMqttVariablesSource = "MqttVariables";

// The value of payload, or nothing with the reason in problem when it is not one of the accepted shapes.
std::optional<Variant> decodeVariablePayload(std::string_view payload, std::string& problem);

// The payload for value. Throws VbError naming the variable for a value that has no such form (Empty,
// Null, a nested array, a number that is not finite, a text that is not UTF-8).
std::string encodeVariablePayload(std::string_view name, const Variant& value);

}  // namespace orvanta
