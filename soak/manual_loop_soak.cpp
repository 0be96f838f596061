// The first soak phase: the whole panel on the demo plant, with the demo world at ten times its pace, on
// the manual loop, for hours of simulated time in a few minutes. Whatever the pace, the panel must run a
// pass every second the line is connected, answer every published alarm's echo, keep its log below the
// limit and its memory flat.
#include "soak/manual_loop_soak.h"

#include <iostream>
#include <optional>

#include "adapters/access/mdb_database.h"
#include "adapters/embedded/embedded_line_display.h"
#include "adapters/embedded/embedded_variables.h"
#include "adapters/embedded/line_description_file.h"
#include "adapters/headless/headless_window_system.h"
#include "app/panel.h"
#include "core/clock.h"
#include "demo/demo_simulator.h"
#include "ports/variable_names.h"
#include "refdata/alarm_definitions.h"
#include "service/program_log.h"
#include "soak/soak_common.h"
#include "support/manual_event_loop.h"

namespace orvanta::soak {

bool runManualLoopSoak(int simulatedMinutes, double rate) {
    PlantCopy plant("manual");
    constexpr int kLogLimitKiB = 100;
    plant.writeProgramIni("[Project]\nLogFileSize=" + std::to_string(kLogLimitKiB) +
                          "\nLogFileSystem=True\nLogFileData=True\n");

    testing::ManualEventLoop loop;
    std::vector<std::string> reports;
    const ErrorReporter report = [&reports](const std::string& message) { reports.push_back(message); };
    const std::unique_ptr<EmbeddedVariables> runtime = openEmbeddedVariables(loop, plant.base(), report);
    MdbDatabaseEngine databases(ORVANTA_MDB_READER);
    const LineDescription description = loadLineDescription(plantFile(plant.base(), kLineDescriptionFile));
    SystemClock clock;

    AlarmDefinitions alarms;
    {
        LogSettings noLog;
        HeadlessCentralForm faults(nowhere());
        ProgramLog log(noLog, clock, faults, plant.base());
        AlarmDefsEinlesen(alarms, databases, log, plant.base(), kAlarmMachines);
    }
    DemoSimulator simulator(loop, *runtime, description, alarms, {1031, 1033, 1036}, 20261207, rate, report);
    EmbeddedLineDisplay line(loop, description, &simulator);

    HeadlessStartForm startView(nowhere());
    HeadlessCentralForm centralView(nowhere());
    HeadlessMessageBoxes messages(nowhere());
    HeadlessWindowSystem windows;
    EndingApplication application;
    Panel panel(PanelParts{loop, *runtime, *runtime, line, startView, centralView, messages, application,
                           windows, databases, clock, report, plant.appPath()});

    // The handshake as the visualisation sees it: every published alarm must be taken back after its echo.
    int published = 0;
    int takenBack = 0;
    std::optional<std::int64_t> publishedAtMs;
    std::int64_t longestHandshakeMs = 0;
    VarServer handshake(*runtime, std::string(vars::kLiLNeu), [&](const Variant& value) {
        if (toInteger(value) == 1) {
            ++published;
            publishedAtMs = loop.nowMs();
        } else if (publishedAtMs) {
            ++takenBack;
            longestHandshakeMs = std::max(longestHandshakeMs, loop.nowMs() - *publishedAtMs);
            publishedAtMs.reset();
        }
    });

    panel.start();
    loop.runPending();

    constexpr std::int64_t kStepMs = 100;
    const std::int64_t totalMs = std::int64_t{simulatedMinutes} * 60 * 1000;
    std::int64_t connectedMs = 0;
    // A pass runs once a second, and at once when the visualisation echoes an alarm (which starts the
    // second anew); so "no pass lost" is: while connected, never more than a second without a pass.
    std::int64_t passes = 0;
    std::int64_t lastPassMs = 0;
    std::int64_t longestWithoutPassMs = 0;
    std::uintmax_t largestLog = 0;
    long residentAfterWarmUp = -1;
    long residentLargest = 0;
    for (std::int64_t elapsed = 0; elapsed < totalMs && !application.ended; elapsed += kStepMs) {
        const bool wasConnected = line.connected();
        loop.advance(kStepMs);
        if (line.dataUpdatedCount() != passes || !wasConnected) {
            passes = line.dataUpdatedCount();
            lastPassMs = loop.nowMs();
        }
        if (line.connected()) {
            connectedMs += kStepMs;
            longestWithoutPassMs = std::max(longestWithoutPassMs, loop.nowMs() - lastPassMs);
        }
        largestLog = std::max(largestLog, plant.logBytes());
        if (elapsed % 60000 == 0) {
            const long resident = residentKiB();
            if (elapsed >= 10 * 60000 && residentAfterWarmUp < 0) residentAfterWarmUp = resident;
            if (residentAfterWarmUp >= 0) residentLargest = std::max(residentLargest, resident);
        }
    }
    const long residentEnd = residentKiB();
    panel.ProgrammEnde();
    for (int i = 0; i < 200 && !application.ended; ++i) loop.advance(100);

    const std::int64_t connectedSeconds = connectedMs / 1000;
    std::cout << "manual loop: " << simulatedMinutes << " simulated minutes at rate " << rate << "\n"
              << "  passes " << passes << " in " << connectedSeconds
              << " s connected, longest time without one " << longestWithoutPassMs << " ms; alarms published "
              << published << ", taken back " << takenBack << " (longest handshake " << longestHandshakeMs
              << " ms)\n"
              << "  largest log " << largestLog << " bytes (limit " << kLogLimitKiB * 1024 << ")\n"
              << "  resident after 10 min " << residentAfterWarmUp << " KiB, largest " << residentLargest
              << " KiB, at the end " << residentEnd << " KiB\n"
              << "  fault lines in the log " << plant.faultLines() << ", reports " << reports.size()
              << (reports.empty() ? "" : " (first: " + reports.front() + ")") << std::endl;

    // A line a little over the limit is the one that triggers the shortening; nothing more may stand.
    constexpr std::uintmax_t kLongestLine = 4096;
    return verdict("manual loop",
                   {{"the program ended in order", application.ended && application.status == 0},
                    {"no pass lost: never more than a second without one while connected",
                     connectedSeconds > simulatedMinutes * 60 - 5 && passes >= connectedSeconds &&
                         longestWithoutPassMs <= 1000},
                    {"alarms were published and every one was taken back after its echo",
                     published > 100 && takenBack >= published - 1},
                    {"the log stayed below its limit", largestLog <= kLogLimitKiB * 1024 + kLongestLine},
                    {"memory stayed flat (under 1 MiB of growth after the warm-up)",
                     residentAfterWarmUp > 0 && residentLargest - residentAfterWarmUp < 1024},
                    {"no fault and no report", plant.faultLines() == 0 && reports.empty()}});
}

}  // namespace orvanta::soak
