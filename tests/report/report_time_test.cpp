#include "report/report_time.h"

#include <gtest/gtest.h>

#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "report/zone_offsets.h"
#include "report_fixture.h"

namespace orvanta::report {
namespace {

constexpr Millis kNoon = 1'796'644'800'000;  // 2026-12-07 12:00 UTC

using testing::LocalZone;

TEST(ReportTime, ReadsDatesTimesZonesAndOffsetsAndRefusesTheRest) {
    EXPECT_EQ(parseTime("2026-12-07T12:00Z"), kNoon);
    EXPECT_EQ(parseTime("2026-12-07 12:00:30Z"), kNoon + 30'000);
    EXPECT_EQ(parseTime("2026-12-07T13:00+01:00"), kNoon);
    EXPECT_EQ(parseTime("2026-12-07T10:30-0130"), kNoon);
    EXPECT_EQ(parseTime("2026-12-07Z"), kNoon - 12 * 3'600'000);
    EXPECT_EQ(parseTime("2026-12-07Z", true), kNoon + 12 * 3'600'000);  // as an end: the day taken in
    EXPECT_EQ(parseTime("2028-02-29T00:00Z"), 1'835'395'200'000);
    {
        LocalZone zone("CET-1CEST,M3.5.0,M10.5.0/3");
        EXPECT_EQ(parseTime("2026-12-07T13:00"), kNoon);                       // winter: UTC+1
        EXPECT_EQ(parseTime("2026-07-07T14:00"), kNoon - 153 * 86'400'000LL);  // summer: UTC+2
        EXPECT_EQ(parseTime("2026-12-07", true), kNoon + 11 * 3'600'000);
    }
    for (const char* wrong :
         {"", "2026", "2026-12-7", "2026-13-01", "2026-02-29", "2026-12-00", "2026-12-07T24:00",
          "2026-12-07T12:60", "2026-12-07T12", "2026-12-07T12:00+", "2026-12-07T12:00+1",
          "2026-12-07T12:00Zulu", "2026-12-07x", "2026-12-07T12:00:61Z", "yesterday"})
        EXPECT_EQ(parseTime(wrong), std::nullopt) << wrong;
}

TEST(ReportTime, PrintsTimesInTheLinesZoneAndDurationsInHours) {
    EXPECT_EQ(formatTime(kNoon, 0), "2026-12-07 12:00:00");
    EXPECT_EQ(formatTime(kNoon + 59'999, 60), "2026-12-07 13:00:59");
    EXPECT_EQ(formatTime(kNoon, -13 * 60), "2026-12-06 23:00:00");
    EXPECT_EQ(formatTime(1'835'395'200'000 - 1, 0), "2028-02-28 23:59:59");
    EXPECT_EQ(formatOffset(60), "UTC+01:00");
    EXPECT_EQ(formatOffset(-570), "UTC-09:30");
    EXPECT_EQ(formatDuration(5'999), "0:00:05");
    EXPECT_EQ(formatDuration(26 * 3'600'000 + 3 * 60'000), "26:03:00");
    EXPECT_EQ(formatDuration(-61'000), "-0:01:01");
    EXPECT_EQ(formatDuration(8760LL * 3'600'000), "8760:00:00");
    EXPECT_EQ(formatSeconds(3'600'007), "3600.007");
    EXPECT_EQ(formatSeconds(-1'500), "-1.500");
}

// A damaged history's times and durations at the ends of the range print as those ends, never wrapped round.
TEST(ReportTime, TimesAndDurationsAtTheEndsOfTheRangePrintWithoutWrappingAround) {
    constexpr Millis kMost = std::numeric_limits<Millis>::max();
    constexpr Millis kLeast = std::numeric_limits<Millis>::min();
    EXPECT_EQ(formatTime(kMost, 60), "292278994-08-17 07:12:55");
    EXPECT_EQ(formatTime(kLeast, -60), formatTime(kLeast, 0));
    EXPECT_EQ(formatDuration(kLeast), "-2562047788015:12:55");
    EXPECT_EQ(formatSeconds(kLeast), "-9223372036854775.808");
    EXPECT_EQ(formatOffset(std::numeric_limits<int>::min()), "UTC-35791394:08");
}

TEST(ReportTime, ShiftStartsAreReadStrictly) {
    const std::vector<std::pair<std::string, std::optional<ShiftStarts>>> cases{
        {"06:00,14:00,22:00", ShiftStarts{360, 840, 1320}},
        {" 6:00 ,\t18:30 ", ShiftStarts{360, 1110}},
        {"00:00", ShiftStarts{0}},
        {"05:45,23:59", ShiftStarts{345, 1439}},
        {"", std::nullopt},
        {"06:00,", std::nullopt},
        {",06:00", std::nullopt},
        {"14:00,06:00", std::nullopt},  // the night shift is the last one, not the first
        {"06:00,06:00", std::nullopt},
        {"24:00", std::nullopt},
        {"06:60", std::nullopt},
        {"06:0", std::nullopt},
        {"0600", std::nullopt},
        {"106:00", std::nullopt},
        {"06:00:00", std::nullopt},
        {"06:00;14:00", std::nullopt},
        {"-6:00", std::nullopt},
        {"early", std::nullopt},
    };
    for (const auto& [text, starts] : cases) EXPECT_EQ(parseShiftStarts(text), starts) << text;
    EXPECT_EQ(parseShiftStarts(kDefaultShifts), (ShiftStarts{360, 840, 1320}));
    for (const char* name : {"day", "shift", "week", "month"}) EXPECT_TRUE(periodKind(name)) << name;
    for (const char* name : {"", "Day", "days", "year", "today"}) EXPECT_FALSE(periodKind(name)) << name;
}

// Each period is the latest complete one before now, in local time: its own ends, its length (which a
// change of the clock makes 23 or 25 hours a day) and its name.
TEST(ReportTime, TheLastPeriodOfEachKindIsTheLatestCompleteOneBeforeNow) {
    LocalZone zone("Europe/Berlin");
    const auto local = [](const char* text) { return *parseTime(text); };
    constexpr Millis kHour = 3'600'000;
    const ShiftStarts usual{360, 840, 1320};
    struct Case {
        PeriodKind kind;
        const char* now;
        ShiftStarts shifts;
        const char* from;
        const char* to;
        Millis hours;
        const char* name;
    };
    const std::vector<Case> cases{
        {PeriodKind::Day, "2026-12-07T10:00", usual, "2026-12-06", "2026-12-07", 24, "day 2026-12-06"},
        {PeriodKind::Day, "2026-12-07T00:00", usual, "2026-12-06", "2026-12-07", 24, "day 2026-12-06"},
        {PeriodKind::Day, "2026-12-06T23:59:59", usual, "2026-12-05", "2026-12-06", 24, "day 2026-12-05"},
        {PeriodKind::Day, "2026-03-30T12:00", usual, "2026-03-29", "2026-03-30", 23, "day 2026-03-29"},
        {PeriodKind::Day, "2026-10-26T08:00", usual, "2026-10-25", "2026-10-26", 25, "day 2026-10-25"},
        {PeriodKind::Day, "2027-01-01T08:00", usual, "2026-12-31", "2027-01-01", 24, "day 2026-12-31"},
        {PeriodKind::Week, "2026-12-07T10:00", usual, "2026-11-30", "2026-12-07", 168, "week 2026-W49"},
        {PeriodKind::Week, "2026-12-13T23:59", usual, "2026-11-30", "2026-12-07", 168, "week 2026-W49"},
        {PeriodKind::Week, "2026-04-01T09:00", usual, "2026-03-23", "2026-03-30", 167, "week 2026-W13"},
        {PeriodKind::Week, "2027-01-06T09:00", usual, "2026-12-28", "2027-01-04", 168, "week 2026-W53"},
        {PeriodKind::Month, "2026-12-01T00:00", usual, "2026-11-01", "2026-12-01", 720, "month 2026-11"},
        {PeriodKind::Month, "2026-11-30T23:00", usual, "2026-10-01", "2026-11-01", 745, "month 2026-10"},
        {PeriodKind::Month, "2027-01-15T12:00", usual, "2026-12-01", "2027-01-01", 744, "month 2026-12"},
        {PeriodKind::Month, "2026-03-02T12:00", usual, "2026-02-01", "2026-03-01", 672, "month 2026-02"},
        // The first shift of the day just begun: the night shift across midnight is the latest ended.
        {PeriodKind::Shift, "2026-12-07T06:00:01", usual, "2026-12-06T22:00", "2026-12-07T06:00", 8,
         "shift 22:00–06:00"},
        {PeriodKind::Shift, "2026-12-07T05:59:59", usual, "2026-12-06T14:00", "2026-12-06T22:00", 8,
         "shift 14:00–22:00"},
        {PeriodKind::Shift, "2026-12-07T14:00", usual, "2026-12-07T06:00", "2026-12-07T14:00", 8,
         "shift 06:00–14:00"},
        {PeriodKind::Shift, "2026-12-07T23:30", usual, "2026-12-07T14:00", "2026-12-07T22:00", 8,
         "shift 14:00–22:00"},
        {PeriodKind::Shift, "2026-03-29T07:00", usual, "2026-03-28T22:00", "2026-03-29T06:00", 7,
         "shift 22:00–06:00"},
        {PeriodKind::Shift,
         "2026-12-07T08:00",
         {450, 1170},
         "2026-12-06T19:30",
         "2026-12-07T07:30",
         12,
         "shift 19:30–07:30"},
        {PeriodKind::Shift,
         "2026-12-07T05:00",
         {360},
         "2026-12-05T06:00",
         "2026-12-06T06:00",
         24,
         "shift 06:00–06:00"},
        {PeriodKind::Shift,
         "2026-12-07T00:10",
         {0, 720},
         "2026-12-06T12:00",
         "2026-12-07T00:00",
         12,
         "shift 12:00–00:00"},
    };
    for (const Case& c : cases) {
        const NamedPeriod period = lastPeriod(c.kind, local(c.now), c.shifts);
        EXPECT_EQ(period, (NamedPeriod{local(c.from), local(c.to), c.name})) << c.now << " " << c.name;
        EXPECT_EQ(period.to - period.from, c.hours * kHour) << c.now << " " << c.name;
    }
}

// A zone is read only by a plain name below the zone folder (a file may hold anything), and gives each
// moment its offset: Berlin's autumn change of 2026, Buenos Aires without one, Etc/GMT+5 west of UTC.
TEST(ReportTime, AZoneGivesEachMomentItsOffsetAndOnlyAPlainNameIsRead) {
    constexpr Millis kChange = 1'792'890'000'000;  // 2026-10-25 01:00 UTC
    struct Case {
        std::string name;
        std::string folder;
        std::optional<std::pair<int, int>> offsets;  // a second before the change and at it
    };
    const std::string zones = "/usr/share/zoneinfo";
    // A zone file under names of every character a zone name may have, and of one it may not.
    testing::ReportFolder copies;
    for (const char* name : {"Zz_09+-", "Zone 1", "Zone@1"})
        std::filesystem::copy_file(zones + "/Europe/Berlin", copies.path(name));
    const std::vector<Case> cases{
        {"Zz_09+-", copies.path(""), std::pair{120, 60}},
        {"Zone 1", copies.path(""), std::nullopt},
        {"Zone@1", copies.path(""), std::nullopt},
        {"Europe/Berlin", zones, std::pair{120, 60}},
        {"America/Argentina/Buenos_Aires", zones, std::pair{-180, -180}},
        {"Etc/GMT+5", zones, std::pair{-300, -300}},
        {"America/Port-au-Prince", zones, std::pair{-240, -240}},
        {"../Europe/Berlin", zones + "/Asia", std::nullopt},
        {"/usr/share/zoneinfo/Europe/Berlin", "", std::nullopt},
        {"Europe/Berlin ", zones, std::nullopt},
        {std::string(101, 'A'), zones, std::nullopt},
        {"", zones, std::nullopt},
        {"zone1970.tab", zones, std::nullopt},  // a file, but no zone file
    };
    for (const Case& c : cases) {
        const std::optional<ZoneOffsets> zone = ZoneOffsets::load(c.name, c.folder);
        ASSERT_EQ(zone.has_value(), c.offsets.has_value()) << c.name;
        if (zone) {
            EXPECT_EQ(std::pair(zone->minutesAt(kChange - 1000), zone->minutesAt(kChange)), *c.offsets)
                << c.name;
        }
    }
}

}  // namespace
}  // namespace orvanta::report
