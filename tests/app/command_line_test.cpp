#include "app/command_line.h"

#include <gtest/gtest.h>

namespace orvanta {
namespace {

TEST(CommandLineBackend, NamesTheBackendInEitherForm) {
    EXPECT_EQ(parseCommandLine({}).options.backend, std::nullopt);

    CommandLineResult parsed = parseCommandLine({"--backend", "mqtt", "--headless"});
    EXPECT_EQ(parsed.error, "");
    EXPECT_EQ(parsed.options.backend, BackendKind::Mqtt);
    EXPECT_TRUE(parsed.options.headless);

    parsed = parseCommandLine({"--backend=Embedded"});
    EXPECT_EQ(parsed.error, "");
    EXPECT_EQ(parsed.options.backend, BackendKind::Embedded);
}

TEST(CommandLineBackend, MissingOrUnknownBackendIsAUsageError) {
    EXPECT_EQ(parseCommandLine({"--backend"}).error, "--backend needs embedded or mqtt");
    EXPECT_EQ(parseCommandLine({"--backend="}).error, "--backend needs embedded or mqtt");
    EXPECT_EQ(parseCommandLine({"--backend", "opc"}).error, "--backend needs embedded or mqtt, not 'opc'");
    EXPECT_EQ(parseCommandLine({"--backend=mqtt5"}).error, "--backend needs embedded or mqtt, not 'mqtt5'");
    EXPECT_EQ(parseCommandLine({"--backends=mqtt"}).error, "unknown argument '--backends=mqtt'");
}

TEST(CommandLineBackend, UsageTextExplainsIt) {
    EXPECT_NE(usageText().find("--backend embedded|mqtt"), std::string::npos);
}

// Beyond 2147483 s the milliseconds no longer fit the timer: such a time once wrapped around and ended the
// program at once.
TEST(CommandLineRunFor, TakesWholeSecondsUpToTheLongestTimerIntervalAndRefusesTheRest) {
    EXPECT_EQ(parseCommandLine({"--run-for", "1"}).options.runForSeconds, 1);
    const CommandLineResult longest = parseCommandLine({"--run-for", "2147483", "--headless"});
    EXPECT_EQ(longest.error, "");
    EXPECT_EQ(longest.options.runForSeconds, 2147483);
    EXPECT_TRUE(longest.options.headless);
    for (const char* text :
         {"2147484", "4294967", "4294967296", "99999999999999999999999", "0", "", "-5", "1e3", "12s", " 7"}) {
        const CommandLineResult parsed = parseCommandLine({"--run-for", text});
        EXPECT_EQ(parsed.error, "--run-for needs a number of seconds from 1 to 2147483") << text;
        EXPECT_EQ(parsed.options.runForSeconds, std::nullopt) << text;
    }
    EXPECT_EQ(parseCommandLine({"--run-for"}).error, "--run-for needs a number of seconds from 1 to 2147483");
}

}  // namespace
}  // namespace orvanta
