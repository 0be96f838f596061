// Plants that run the panel are often German. Their locale must reach the time and date texts of the log
// in every mode, and nothing else: the dialect's number conversions are fixed. A windowed run has the C
// library's locale set to the user's by the toolkit, a headless run has not; both are played here.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <optional>
#include <regex>
#include <string>

#include "core/clock.h"
#include "core/variant.h"
#include "support/process_locale.h"

namespace orvanta {
namespace {

constexpr const char* kGerman = "de_DE.UTF-8";

using testing::ProcessLocale;

// Sets LC_ALL in the environment, as the user's session does, and restores it at the end.
class UserLocale {
public:
    explicit UserLocale(const char* name) {
        if (const char* old = std::getenv("LC_ALL")) previous_ = old;
        setenv("LC_ALL", name, 1);
    }
    ~UserLocale() {
        if (previous_)
            setenv("LC_ALL", previous_->c_str(), 1);
        else
            unsetenv("LC_ALL");
    }
    UserLocale(const UserLocale&) = delete;
    UserLocale& operator=(const UserLocale&) = delete;

private:
    std::optional<std::string> previous_;
};

TEST(UserLocale, NumberConversionsDoNotDependOnTheProcessLocale) {
    const ProcessLocale german(kGerman);
    ASSERT_TRUE(german.set()) << "the locale " << kGerman << " is missing: scripts/install-deps generates it";
    EXPECT_EQ(toInteger(Variant::text("2.7")), 3);
    EXPECT_EQ(toInteger(Variant::text("2.5")), 2);
    EXPECT_EQ(toDouble(Variant::text(" -1.25E2 ")), -125.0);
    EXPECT_EQ(val("1.5"), 1.5);
    EXPECT_EQ(val("  3.75 kg"), 3.75);
    EXPECT_EQ(val("1,5"), 1.0) << "a comma is no decimal point of the dialect";
    EXPECT_EQ(toText(Variant::real(2.5)), "2.5");
    EXPECT_EQ(toText(Variant::real(-0.125)), "-0.125");
    EXPECT_EQ(toText(Variant::real(1e20)), "1E+20");
    EXPECT_EQ(toText(Variant::real(1.0 / 3.0)), "0.333333333333333");
}

TEST(UserLocale, TimeAndDateTextsAreTheUsersInEveryMode) {
    const std::regex germanDate(R"(\d\d\.\d\d\.\d{4})");
    const std::regex longTime(R"(\d\d:\d\d:\d\d)");
    {
        const UserLocale user(kGerman);
        const SystemClock clock;
        EXPECT_TRUE(std::regex_match(clock.shortDate(), germanDate)) << clock.shortDate() << ", headless";
        EXPECT_TRUE(std::regex_match(clock.longTime(), longTime)) << clock.longTime();
        const ProcessLocale windowed(kGerman);
        ASSERT_TRUE(windowed.set());
        EXPECT_TRUE(std::regex_match(clock.shortDate(), germanDate)) << clock.shortDate() << ", windowed";
    }
    {
        const UserLocale user("C");
        const ProcessLocale windowed(kGerman);  // the process's locale does not leak into the texts
        const SystemClock clock;
        EXPECT_TRUE(std::regex_match(clock.shortDate(), std::regex(R"(\d\d/\d\d/\d\d)")))
            << clock.shortDate();
        EXPECT_TRUE(std::regex_match(clock.time24(), longTime)) << clock.time24();
    }
    {
        const UserLocale user("xx_NOWHERE.UTF-8");  // not installed: the C locale's forms, no failure
        const SystemClock clock;
        EXPECT_TRUE(std::regex_match(clock.shortDate(), std::regex(R"(\d\d/\d\d/\d\d)")))
            << clock.shortDate();
    }
}

}  // namespace
}  // namespace orvanta
