// The line bridge's runtime writes as short texts, so that a test can compare a pass's whole sequence of
// writes at once: "li_status=3", "li_s_message3=Film low", arrays with every element, runs of equal
// elements of three or more shortened: "li_s_charset=[9*3 238 9*60]".
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "support/recording_variables.h"

namespace orvanta::testing {

// The part of a variable's name between "<." and the closing ">".
inline std::string shortName(std::string_view name) {
    const std::size_t start = name.find("<.");
    std::string_view inner = start == std::string_view::npos ? name : name.substr(start + 2);
    if (inner.ends_with('>')) inner.remove_suffix(1);
    return std::string(inner);
}

inline std::string valueText(const Variant& value) {
    if (!value.isArray()) return toText(value);
    std::string out = "[";
    const Variant::Array& elements = value.asArray();
    for (std::size_t i = 0; i < elements.size();) {
        std::size_t run = 1;
        while (i + run < elements.size() && toText(elements[i + run]) == toText(elements[i])) ++run;
        if (run < 3) run = 1;
        out += (i > 0 ? " " : "") + toText(elements[i]) + (run > 1 ? "*" + std::to_string(run) : "");
        i += run;
    }
    return out + "]";
}

// Every write, in order, or those whose names `keep` accepts.
template <typename Keep>
std::vector<std::string> writeTexts(const RecordingVariables& variables, Keep keep) {
    std::vector<std::string> out;
    for (const RecordingVariables::Access& write : variables.writes())
        if (keep(write.name)) out.push_back(shortName(write.name) + "=" + valueText(write.value));
    return out;
}

}  // namespace orvanta::testing
