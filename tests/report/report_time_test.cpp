#include "report/report_time.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <limits>
#include <optional>
#include <string>

namespace orvanta::report {
namespace {

constexpr Millis kNoon = 1'796'644'800'000;  // 2026-12-07 12:00 UTC

// The zone of this process for one test; mktime reads TZ.
class LocalZone {
public:
    explicit LocalZone(const char* zone) {
        if (const char* old = std::getenv("TZ")) old_ = old;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~LocalZone() {
        if (old_) {
            setenv("TZ", old_->c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }

private:
    std::optional<std::string> old_;
};

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

}  // namespace
}  // namespace orvanta::report
