// The readers keep the results of the Windows private-profile calls the settings were written for: a
// text is cut to 254 characters, an integer keeps only its low 16 bits, and the defaults stand for
// "missing". Every step catches its own errors and hands them to FehlerMelden, so a reader always
// returns a value and never throws.
#include "service/ini_access.h"

#include <optional>
#include <string_view>

#include "core/text.h"
#include "core/variant.h"
#include "core/vb_error.h"
#include "service/ini_file.h"

namespace orvanta {
namespace {

constexpr std::size_t kMaxValueCharacters = 254;

// Runs one step of a reader; a failure goes to FehlerMelden and the reader goes on with its next step.
template <typename Step>
void guarded(const char* procedure, Step&& step) {
    try {
        step();
    } catch (...) {
        const VbError error = VbError::current("Service");
        FehlerMelden(error.number(), error.description(), error.source(), procedure);
    }
}

// What GetPrivateProfileString would place in a buffer of 255 characters: "" for a missing entry.
std::string profileString(const std::string& section, const std::string& entry, const std::string& file) {
    return cutToCharacters(findIniValue(file, section, entry).value_or(std::string()), kMaxValueCharacters);
}

// What GetPrivateProfileInt gives: the default -1 for a missing entry, else the decimal number at the
// start of the value, accumulated with 32-bit wrap-around like the platform does.
std::uint32_t profileInt(const std::string& section, const std::string& entry, const std::string& file) {
    const std::optional<std::string> value = findIniValue(file, section, entry);
    if (!value) return static_cast<std::uint32_t>(-1);
    std::string_view digits = *value;
    const bool negative = digits.starts_with('-');
    if (negative || digits.starts_with('+')) digits.remove_prefix(1);
    std::uint32_t number = 0;
    for (; !digits.empty() && digits.front() >= '0' && digits.front() <= '9'; digits.remove_prefix(1)) {
        number = number * 10u + static_cast<std::uint32_t>(digits.front() - '0');
    }
    return negative ? 0u - number : number;
}

}  // namespace

void FehlerMelden(double /*number*/, const std::string& /*description*/, const std::string& /*source*/,
                  const std::string& /*procedure*/) {}

IniAccess::IniAccess(MessageBoxes& messageBoxes) : messageBoxes_(messageBoxes) {}

std::string IniAccess::LoadIniString(const std::string& section, const std::string& entry,
                                     const std::string& file, std::int16_t report) {
    constexpr const char* kProcedure = "LoadIniString";
    std::string value;
    guarded(kProcedure, [&] { value = profileString(section, entry, file); });
    if (value.empty() && report == kTrue) showNotFound(section, entry, file, kProcedure);
    return value;
}

std::int16_t IniAccess::LoadIniInteger(const std::string& section, const std::string& entry,
                                       const std::string& file, std::int16_t report) {
    constexpr const char* kProcedure = "LoadIniInteger";
    std::int16_t value = 0;
    guarded(kProcedure, [&] {
        value = static_cast<std::int16_t>(static_cast<std::uint16_t>(profileInt(section, entry, file)));
    });
    if (value == -1 && report == kTrue) showNotFound(section, entry, file, kProcedure);
    return value;
}

std::int16_t IniAccess::LoadIniBoolean(const std::string& section, const std::string& entry,
                                       const std::string& file, std::int16_t report) {
    constexpr const char* kProcedure = "LoadIniBoolean";
    std::string value;
    guarded(kProcedure, [&] { value = asciiUpper(profileString(section, entry, file)); });
    if (value != "TRUE" && value != "FALSE" && report == kTrue)
        showNotFound(section, entry, file, kProcedure);
    return value == "TRUE" ? kTrue : kFalse;
}

void IniAccess::showNotFound(const std::string& section, const std::string& entry, const std::string& file,
                             const char* procedure) {
    guarded(procedure, [&] {
        messageBoxes_.show(
            "File '" + file + "' or Section [" + section + "] or Entry '" + entry + "' not found",
            MessageIcon::None, kApplicationTitle);
    });
}

}  // namespace orvanta
