#include "service/handler_frame.h"

#include <gtest/gtest.h>

#include "support/log_capture.h"

namespace orvanta {
namespace {

using testing::LogCapture;

// A value the runtime still waits for, as the broker's runtime raises it.
VbError awaited() {
    return VbError(kInvalidCall, "Process variable 'x' has no value on the broker", "MQTT",
                   VbErrorKind::Awaited);
}

TEST(HandlerFrame, TracesEntryAndExitAndGoesOnAfterAFailingStatement) {
    LogCapture capture;
    int reached = 0;
    {
        HandlerFrame frame(capture.log, "TimerDaten_Timer", Trace::Data);
        EXPECT_TRUE(frame.step([&] { ++reached; }));
        EXPECT_FALSE(frame.step([&] { throw VbError::standard(kOverflow, "Orvanta"); }));
        frame.step([&] { ++reached; });
        frame.step([&] { throw std::runtime_error("foreign"); });
        // Fails like any other statement, and is left to its runtime to report.
        EXPECT_FALSE(frame.step([] { throw awaited(); }));
        frame.step([&] { ++reached; });
    }
    EXPECT_EQ(reached, 3);
    EXPECT_EQ(capture.lines(), (std::vector<std::string>{
                                   "D 14:03:07 07.12.2026 TimerDaten_Timer An ",
                                   "F 14:03:07 07.12.2026 Fault 6; Overflow; Orvanta; TimerDaten_Timer",
                                   "F 14:03:07 07.12.2026 Fault 5; foreign; Orvanta; TimerDaten_Timer",
                                   "D 14:03:07 07.12.2026 TimerDaten_Timer En ",
                               }));
    EXPECT_TRUE(capture.form.labelVisible);
    EXPECT_EQ(capture.form.labelCaption, "14:03:07 07.12.2026 Fault 5; foreign; Orvanta; TimerDaten_Timer");
}

TEST(HandlerFrame, AFailingConditionEntersItsBranch) {
    LogCapture capture;
    HandlerFrame frame(capture.log, "BildSprung_Change", Trace::System);
    EXPECT_TRUE(frame.condition([]() -> bool { throw VbError::standard(kTypeMismatch, "Orvanta"); }));
    EXPECT_TRUE(frame.condition([]() -> bool { throw awaited(); }));
    EXPECT_FALSE(frame.condition([] { return false; }));
    EXPECT_EQ(capture.linesStartingWith("F ").size(), 1u);
    EXPECT_EQ(capture.lines().front(), "S 14:03:07 07.12.2026 BildSprung_Change An ");
}

TEST(HandlerFrame, ReadersClearTheirFaultsSilentlyButCanStillReport) {
    LogCapture capture;
    {
        HandlerFrame frame(capture.log, "AlarmDefsEinlesen", Trace::System, {.faultLines = false});
        frame.step([] { throw VbError::standard(kInvalidUseOfNull, "Orvanta"); });
        frame.report(VbError(3024, "Could not find file 'x'", "Database"));
    }
    EXPECT_EQ(capture.lines(),
              (std::vector<std::string>{
                  "S 14:03:07 07.12.2026 AlarmDefsEinlesen An ",
                  "F 14:03:07 07.12.2026 Fault 3024; Could not find file 'x'; Database; AlarmDefsEinlesen",
                  "S 14:03:07 07.12.2026 AlarmDefsEinlesen En ",
              }));
}

TEST(HandlerFrame, TracesOfACategoryThatIsOffAreNotWrittenButFaultsAre) {
    LogCapture capture;
    capture.settings.LogSystem = 0;
    {
        HandlerFrame frame(capture.log, "TimerLeben_Timer", Trace::System);
        frame.trace("TimerLeben_Timer", " 1 ");
        frame.step([] { throw VbError::standard(kOverflow, "Orvanta"); });
    }
    HandlerFrame data(capture.log, "TimerDaten_Timer", Trace::Data);
    data.trace("progress");
    EXPECT_EQ(capture.lines(), (std::vector<std::string>{
                                   "F 14:03:07 07.12.2026 Fault 6; Overflow; Orvanta; TimerLeben_Timer",
                                   "D 14:03:07 07.12.2026 TimerDaten_Timer An ",
                                   "D 14:03:07 07.12.2026 progress",
                               }));
}

TEST(HandlerFrame, ATextDatabaseFaultIsLoggedThenShownNamingTheCall) {
    LogCapture capture;
    HandlerFrame frame(capture.log, "Form_Activate", Trace::System, {.entryTrace = false});
    frame.reportTextDatabaseFault(VbError(3024, "Could not find file 'p.vws'", "Database"), "Init");
    EXPECT_EQ(capture.lines(),
              (std::vector<std::string>{
                  "F 14:03:07 07.12.2026 Fault 3024; Could not find file 'p.vws'; Database; Form_Activate",
                  "F 14:03:07 07.12.2026 Fault 3024; Zervmdb.dll Init ; Database; Form_Activate",
              }));
    EXPECT_EQ(capture.form.labelCaption,
              "14:03:07 07.12.2026 Fault 3024; Zervmdb.dll Init ; Database; Form_Activate");
}

}  // namespace
}  // namespace orvanta
