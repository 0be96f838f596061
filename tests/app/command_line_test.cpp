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

}  // namespace
}  // namespace orvanta
