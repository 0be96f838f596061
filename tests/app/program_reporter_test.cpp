#include "app/program_reporter.h"

#include <gtest/gtest.h>

#include <sstream>

#include "support/log_capture.h"

namespace orvanta {
namespace {

// Errors and notices, in the order they came, each marked as what it is on standard error and in the
// log; a notice is written whatever categories the log has switched on. Before there is a log, standard
// error alone has them.
TEST(ProgramReporter, WritesErrorsAsFaultsAndNoticesAsPlainLinesOnStandardErrorAndInTheLog) {
    testing::LogCapture capture;
    capture.settings.LogSystem = 0;
    capture.settings.Logdaten = 0;
    testing::LogCapture later;
    ProgramLog* current = nullptr;
    std::ostringstream err;
    const ErrorReporter report = programReporter(err, [&] { return current; });

    report("The process-variable runtime cannot start");
    current = &capture.log;
    report("The connection to the MQTT broker was lost");
    report.notice("The connection to the MQTT broker is back");
    later.clock.time = "23:59:58";
    current = &later.log;
    report.notice("3 values were published again");

    EXPECT_EQ(err.str(),
              "Orvanta: error: The process-variable runtime cannot start\n"
              "Orvanta: error: The connection to the MQTT broker was lost\n"
              "Orvanta: The connection to the MQTT broker is back\n"
              "Orvanta: 3 values were published again\n");
    EXPECT_EQ(capture.lines(),
              (std::vector<std::string>{"F 14:03:07 07.12.2026 The connection to the MQTT broker was lost",
                                        "14:03:07 07.12.2026 The connection to the MQTT broker is back"}));
    EXPECT_EQ(later.lines(), std::vector<std::string>{"23:59:58 07.12.2026 3 values were published again"});
    EXPECT_EQ(capture.form.labelCaption, "Label1g") << "a report is not a fault of the main form's own";
}

}  // namespace
}  // namespace orvanta
