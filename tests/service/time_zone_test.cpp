#include "service/time_zone.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>

namespace orvanta {
namespace {

namespace fs = std::filesystem;

// Each case in a folder of its own, with the link and the file as a system would have them (a link's
// target need not exist: only its name counts).
TEST(TimeZoneName, ComesFromTzThenTheLocaltimeLinkThenTheTimezoneFile) {
    struct Case {
        std::optional<std::string> tz;
        std::optional<std::string> link;      // where localtime links to; none: a plain copy of a zone
        std::optional<std::string> timezone;  // the timezone file's content; none: no file
        std::string expected;
    };
    const Case cases[] = {
        {"Europe/Paris", "/usr/share/zoneinfo/Europe/Berlin", "Etc/UTC\n", "Europe/Paris"},
        {":Europe/Paris", "/usr/share/zoneinfo/Europe/Berlin", {}, "Europe/Paris"},
        {"CET-1CEST,M3.5.0,M10.5.0/3", {}, {}, "CET-1CEST,M3.5.0,M10.5.0/3"},
        {":/usr/share/zoneinfo/America/New_York", {}, {}, "America/New_York"},
        {"/opt/zones/Mine", {}, {}, "/opt/zones/Mine"},
        {"", "/usr/share/zoneinfo/Europe/Berlin", {}, "UTC"},
        {":", "/usr/share/zoneinfo/Europe/Berlin", {}, "Europe/Berlin"},
        {{}, "/usr/share/zoneinfo/Europe/Berlin", "Etc/UTC\n", "Europe/Berlin"},
        {{}, "../usr/share/zoneinfo/posix/Asia/Tokyo", {}, "Asia/Tokyo"},
        {{}, "zoneinfo/Europe/Oslo", {}, "Europe/Oslo"},
        {{}, "/etc/myzoneinfo/x", "Europe/Vienna\n", "Europe/Vienna"},
        {{}, {}, " Europe/Rome \r\nEurope/Madrid\n", "Europe/Rome"},
        {{}, {}, {}, ""},
    };
    const fs::path base = fs::temp_directory_path() / ("orvanta-time-zone-" + std::to_string(getpid()));
    int n = 0;
    for (const Case& c : cases) {
        const fs::path folder = base / std::to_string(n++);
        fs::create_directories(folder);
        if (c.link) {
            fs::create_symlink(*c.link, folder / "localtime");
        } else {
            std::ofstream(folder / "localtime") << "TZif2";
        }
        if (c.timezone) std::ofstream(folder / "timezone") << *c.timezone;
        EXPECT_EQ(timeZoneName(c.tz, (folder / "localtime").string(), (folder / "timezone").string()),
                  c.expected)
            << folder;
    }
    fs::remove_all(base);

    // This process's own: its TZ first.
    const char* before = std::getenv("TZ");
    const std::optional<std::string> kept =
        before != nullptr ? std::optional<std::string>(before) : std::nullopt;
    setenv("TZ", ":Europe/Lisbon", 1);
    EXPECT_EQ(timeZoneName(), "Europe/Lisbon");
    if (kept) {
        setenv("TZ", kept->c_str(), 1);
    } else {
        unsetenv("TZ");
    }
}

}  // namespace
}  // namespace orvanta
