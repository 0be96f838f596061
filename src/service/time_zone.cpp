#include "service/time_zone.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string_view>

namespace orvanta {
namespace {

constexpr std::string_view kZoneFolder = "zoneinfo/";
constexpr std::string_view kPosixFolder = "posix/";  // Debian's second tree of the same zones

// The zone a path to a zone file stands for, or empty when it lies below no zoneinfo folder.
std::string zoneOfPath(const std::string& path) {
    for (std::size_t at = path.find(kZoneFolder); at != std::string::npos;
         at = path.find(kZoneFolder, at + 1)) {
        if (at != 0 && path[at - 1] != '/') continue;
        std::string zone = path.substr(at + kZoneFolder.size());
        if (zone.rfind(kPosixFolder, 0) == 0) zone.erase(0, kPosixFolder.size());
        return zone;
    }
    return {};
}

std::string trimmed(std::string text) {
    const char* const space = " \t\r\n";
    const std::size_t first = text.find_first_not_of(space);
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(space) - first + 1);
}

}  // namespace

std::string timeZoneName(const std::optional<std::string>& tz, const std::string& localtimeLink,
                         const std::string& timezoneFile) {
    // The C library takes an empty TZ for UTC, and a lone ':' for the system's zone.
    if (tz && tz->empty()) return "UTC";
    const std::string value = tz && tz->front() == ':' ? tz->substr(1) : tz.value_or("");
    if (!value.empty()) {
        if (value.front() != '/') return value;
        const std::string zone = zoneOfPath(value);
        return zone.empty() ? value : zone;
    }
    std::error_code error;
    const std::filesystem::path target = std::filesystem::read_symlink(localtimeLink, error);
    if (!error) {
        const std::string zone = zoneOfPath(target.string());
        if (!zone.empty()) return zone;
    }
    std::ifstream file(timezoneFile);
    std::string line;
    if (std::getline(file, line)) return trimmed(line);
    return {};
}

std::string timeZoneName() {
    const char* tz = std::getenv("TZ");
    return timeZoneName(tz != nullptr ? std::optional<std::string>(tz) : std::nullopt, kLocaltimeLink,
                        kTimezoneFile);
}

}  // namespace orvanta
