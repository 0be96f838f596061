// Small text helpers shared by the readers: names in settings and variables are compared the way the
// original platform did, without regard to ASCII case, with blanks and tabs around them ignored.
#pragma once

#include <string>
#include <string_view>

namespace orvanta {

constexpr bool isBlank(char c) { return c == ' ' || c == '\t'; }

constexpr char asciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

inline std::string asciiUpper(std::string text) {
    for (char& c : text) c = asciiUpper(c);
    return text;
}

constexpr std::string_view trimBlanks(std::string_view text) {
    while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
    return text;
}

constexpr bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (asciiUpper(a[i]) != asciiUpper(b[i])) return false;
    }
    return true;
}

}  // namespace orvanta
