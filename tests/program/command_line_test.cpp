#include "program/command_line.h"

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

// Every option in one command line, each in the form it takes; a later option does not undo an earlier.
TEST(CommandLine, ReadsEveryOptionAndItsValue) {
    const CommandLineResult all = parseCommandLine(
        {"--base", "/plant one", "--headless", "--simulate", "--run-for", "30", "--screenshot", "shot.png",
         "--dump-refdata", "--help", "--version", "--backend=mqtt"});
    EXPECT_EQ(all.error, "");
    EXPECT_EQ(all.options.baseFolder, "/plant one");
    EXPECT_TRUE(all.options.headless);
    EXPECT_TRUE(all.options.simulate);
    EXPECT_EQ(all.options.runForSeconds, 30);
    EXPECT_EQ(all.options.screenshot, "shot.png");
    EXPECT_TRUE(all.options.dumpRefdata);
    EXPECT_TRUE(all.options.help);
    EXPECT_TRUE(all.options.version);
    EXPECT_EQ(all.options.backend, BackendKind::Mqtt);

    const CommandLineResult none = parseCommandLine({});
    EXPECT_EQ(none.error, "");
    EXPECT_FALSE(none.options.baseFolder || none.options.screenshot || none.options.runForSeconds);
    EXPECT_FALSE(none.options.headless || none.options.simulate || none.options.dumpRefdata ||
                 none.options.help || none.options.version);

    EXPECT_EQ(parseCommandLine({"--base=/p"}).options.baseFolder, "/p");
    EXPECT_TRUE(parseCommandLine({"-h"}).options.help);
}

TEST(CommandLine, AMissingValueOrAnUnknownArgumentIsAnError) {
    EXPECT_EQ(parseCommandLine({"--base"}).error, "--base needs a folder");
    EXPECT_EQ(parseCommandLine({"--base", ""}).error, "--base needs a folder");
    EXPECT_EQ(parseCommandLine({"--base="}).error, "unknown argument '--base='");
    EXPECT_EQ(parseCommandLine({"--screenshot"}).error, "--screenshot needs a file name");
    EXPECT_EQ(parseCommandLine({"--screenshot", ""}).error, "--screenshot needs a file name");
    EXPECT_EQ(parseCommandLine({"--headless", "--frobnicate", "--help"}).error,
              "unknown argument '--frobnicate'");
    EXPECT_EQ(parseCommandLine({"-v"}).error, "unknown argument '-v'");
}

// Beyond 2147483 s the milliseconds no longer fit the timer: such a time once wrapped around and ended the
// program at once.
TEST(CommandLineRunFor, TakesWholeSecondsUpToTheLongestTimerIntervalAndRefusesTheRest) {
    EXPECT_EQ(parseCommandLine({"--run-for", "1"}).options.runForSeconds, 1);
    const CommandLineResult longest = parseCommandLine({"--run-for", "2147483", "--headless"});
    EXPECT_EQ(longest.error, "");
    EXPECT_EQ(longest.options.runForSeconds, 2147483);
    EXPECT_TRUE(longest.options.headless);
    for (const char* text : {"2147484", "4294967", "4294967296", "99999999999999999999999", "0", "", "-5",
                             "1e3", "12s", " 7", "+7", "9999999999999999999"}) {
        const CommandLineResult parsed = parseCommandLine({"--run-for", text});
        EXPECT_EQ(parsed.error, "--run-for needs a number of seconds from 1 to 2147483") << text;
        EXPECT_EQ(parsed.options.runForSeconds, std::nullopt) << text;
    }
    EXPECT_EQ(parseCommandLine({"--run-for"}).error, "--run-for needs a number of seconds from 1 to 2147483");
}

}  // namespace
}  // namespace orvanta
