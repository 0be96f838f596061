// The whole panel on the demo plant keeps its line's history: the demo world on the manual loop for an
// hour of simulated time, the recorder and the history file as the program wires them. The file must
// hold what the panel did (alarms raised, published, echoed and cleared; each slot's states without
// overlaps), and keeping it must not change a single write of the panel. Then the report of that hour as
// a person sees it: headless Chromium renders the HTML report, and the screenshot must show the panel's
// colours of the states (ORVANTA_KEEP_REPORT_SCREENSHOT=FILE keeps it: the README's picture).
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <QColor>
#include <QImage>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "adapters/access/mdb_database.h"
#include "adapters/embedded/embedded_line_display.h"
#include "adapters/embedded/embedded_variables.h"
#include "adapters/embedded/line_description_file.h"
#include "adapters/headless/headless_window_system.h"
#include "adapters/sqlite/sqlite_history_store.h"
#include "app/panel.h"
#include "core/clock.h"
#include "demo/demo_simulator.h"
#include "history/alarm_texts.h"
#include "history/history_recorder.h"
#include "linepicture/line_picture.h"
#include "ports/variable_names.h"
#include "report/report_command.h"
#include "soak/soak_common.h"
#include "support/manual_event_loop.h"
#include "support/running_program.h"

namespace orvanta {
namespace {

using soak::PlantCopy;

constexpr history::Millis kStart = 1'796'688'000'000;  // 2026-12-08 00:00 UTC
constexpr int kMinutes = 60;

// Every write the panel made to the variables that reach the visualisation, in order.
struct DemoRun {
    std::vector<std::string> writes;
    std::int64_t passes = 0;
};

DemoRun runDemo(const PlantCopy& plant, bool keepHistory) {
    testing::ManualEventLoop loop;
    const ErrorReporter report = [](const std::string& message) { ADD_FAILURE() << message; };
    const std::unique_ptr<EmbeddedVariables> runtime = openEmbeddedVariables(loop, plant.base(), report);
    MdbDatabaseEngine databases(ORVANTA_MDB_READER);
    const LineDescription description = loadLineDescription(plantFile(plant.base(), kLineDescriptionFile));
    SystemClock clock;
    AlarmDefinitions alarms;
    {
        LogSettings noLog;
        HeadlessCentralForm faults(soak::nowhere());
        ProgramLog log(noLog, clock, faults, plant.base());
        AlarmDefsEinlesen(alarms, databases, log, plant.base(), kAlarmMachines);
    }
    DemoSimulator simulator(loop, *runtime, description, alarms, {1031, 1033, 1036}, 20261208, 1.0, report);
    EmbeddedLineDisplay line(loop, description, &simulator);

    const auto now = [&loop] { return kStart + loop.nowMs(); };
    SqliteHistorySettings file;
    file.path = plant.base() + "/History.db";
    file.wallClock = now;
    std::unique_ptr<SqliteHistoryStore> store;
    std::unique_ptr<HistoryRecorder> recorder;
    Panel* panelOfRun = nullptr;  // the recorder asks the panel's main form for the alarms' texts
    if (keepHistory) {
        store = std::make_unique<SqliteHistoryStore>(loop, report, file);
        const auto texts = [&panelOfRun](const std::string& key) {
            OrvantaCentral* central = panelOfRun != nullptr ? panelOfRun->central() : nullptr;
            return central != nullptr ? alarmTexts(*central, key) : std::vector<history::LanguageText>{};
        };
        recorder = std::make_unique<HistoryRecorder>(
            *store, loop, now, HistoryRecorder::Settings{"Pelmar", 60, "Europe/Berlin", texts});
    }

    HeadlessStartForm startView(soak::nowhere());
    HeadlessCentralForm centralView(soak::nowhere());
    HeadlessMessageBoxes messages(soak::nowhere());
    HeadlessWindowSystem windows;
    soak::EndingApplication application;
    Panel panel(PanelParts{loop, *runtime, *runtime, line, startView, centralView, messages, application,
                           windows, databases, clock, report, plant.appPath(), recorder.get()});
    panelOfRun = &panel;

    DemoRun run;
    std::vector<std::unique_ptr<VarServer>> watches;
    for (const std::string_view name : {vars::kLiLFault, vars::kLiLAlarmNo, vars::kLiLSensor2, vars::kLiLNeu,
                                        vars::kLiStatus, vars::kLiABits})
        watches.push_back(
            std::make_unique<VarServer>(*runtime, std::string(name), [&, name](const Variant& value) {
                run.writes.push_back(std::to_string(loop.nowMs()) + " " + std::string(name) + "=" +
                                     toText(value));
            }));

    if (recorder) recorder->start();
    panel.start();
    for (int step = 0; step < kMinutes * 600; ++step) loop.advance(100);
    run.passes = line.dataUpdatedCount();
    if (recorder) recorder->end();
    panel.ProgrammEnde();
    for (int i = 0; i < 50 && !application.ended; ++i) loop.advance(100);
    if (store) store->close();
    return run;
}

// One column of the first row of a query, as text.
std::vector<std::string> rows(sqlite3* db, const std::string& sql) {
    std::vector<std::string> result;
    sqlite3_stmt* statement = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr), SQLITE_OK) << sql;
    while (sqlite3_step(statement) == SQLITE_ROW) {
        const unsigned char* text = sqlite3_column_text(statement, 0);
        result.emplace_back(text != nullptr ? reinterpret_cast<const char*>(text) : "NULL");
    }
    sqlite3_finalize(statement);
    return result;
}
std::string one(sqlite3* db, const std::string& sql) {
    const std::vector<std::string> all = rows(db, sql);
    return all.empty() ? "(none)" : all.front();
}

constexpr const char* kChromium = "/usr/bin/chromium";

// Pixels near the colour: a browser may blend an edge, never the inside of a bar.
int pixelsOf(const QImage& image, Rgb colour) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (std::abs(c.red() - colour.red) <= 6 && std::abs(c.green() - colour.green) <= 6 &&
                std::abs(c.blue() - colour.blue) <= 6)
                ++count;
        }
    return count;
}

void showInBrowser(const std::string& history, const std::string& folder) {
    if (access(kChromium, X_OK) != 0)
        GTEST_SKIP() << kChromium << " is not installed: the HTML report is not shown";
    const std::string html = folder + "/report.html";
    std::ostringstream out;
    std::ostringstream err;
    ASSERT_EQ(report::runReport({"--format", "html", "--output", html, history}, out, err),
              report::kExitReported)
        << err.str();
    const std::string png = folder + "/report.png";
    testing::RunningProgram chromium(
        kChromium, {"--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                    "--disable-background-networking", "--disable-component-update", "--disable-sync",
                    "--user-data-dir=" + folder + "/profile", "--screenshot=" + png,
                    "--window-size=1200,1600", "file://" + html});
    ASSERT_EQ(chromium.waitForExit(std::chrono::seconds(90)), 0) << chromium.stderrText;
    QImage image(QString::fromStdString(png));
    ASSERT_FALSE(image.isNull()) << png;
    EXPECT_EQ(image.width(), 1200);
    EXPECT_EQ(image.height(), 1600);
    // The timeline's states (the demo hour has each but "not connected" on screen), the page's background.
    for (const int status : {1, 2, 3, 4, 6})
        EXPECT_GT(pixelsOf(image, statusColour(status)), 200) << statusName(status);
    EXPECT_GT(pixelsOf(image, {0xFF, 0xFF, 0xFF}), 1200 * 1600 / 4);
    if (const char* keep = std::getenv("ORVANTA_KEEP_REPORT_SCREENSHOT"))
        std::filesystem::copy_file(png, keep, std::filesystem::copy_options::overwrite_existing);
}

TEST(DemoHistory, AnHourOfTheDemoLineIsKeptAndChangesNoWriteOfThePanel) {
    PlantCopy withHistory("history-on");
    PlantCopy without("history-off");
    const DemoRun recorded = runDemo(withHistory, true);
    const DemoRun plain = runDemo(without, false);
    EXPECT_EQ(recorded.writes, plain.writes);
    EXPECT_EQ(recorded.passes, plain.passes);
    ASSERT_GT(recorded.passes, kMinutes * 60 - 30);

    sqlite3* db = nullptr;
    ASSERT_EQ(
        sqlite3_open_v2((withHistory.base() + "/History.db").c_str(), &db, SQLITE_OPEN_READONLY, nullptr),
        SQLITE_OK);
    const std::string end = std::to_string(kStart + kMinutes * 60000);
    EXPECT_EQ(
        one(db, "SELECT count(*) || ' ' || min(line) || ' ' || min(started) || ' ' || min(ended) FROM runs"),
        "1 Pelmar " + std::to_string(kStart) + " " + end);

    // Every episode closed in order: raised, published, echoed, cleared; the demo's visualisation echoes. A
    // slot showed the text of each, but of the messages that only lead the line.
    EXPECT_GT(std::stoi(one(db, "SELECT count(*) FROM alarm_episodes")), 20);
    EXPECT_GT(std::stoi(one(db, "SELECT count(*) FROM alarm_episodes WHERE echoed IS NOT NULL")), 5);
    EXPECT_EQ(
        one(db,
            "SELECT count(*) FROM alarm_episodes WHERE cleared IS NULL OR cleared < raised OR cleared > " +
                end +
                " OR published < raised OR echoed < published OR echoed > cleared OR (text = '' AND "
                "alarm_table < 3)"),
        "0");
    // Every slot's intervals follow each other without overlap, inside the run; a stopped own machine
    // names its alarm.
    EXPECT_EQ(one(db,
                  "SELECT count(*) FROM (SELECT started, ended, lag(ended) OVER (PARTITION BY slot ORDER BY "
                  "started, seq) AS before FROM state_intervals) WHERE ended IS NULL OR ended < started OR "
                  "started < before OR ended > " +
                      end),
              "0");
    EXPECT_EQ(one(db,
                  "SELECT count(*) FROM state_intervals WHERE status = 4 AND foreign_machine = 0 AND slot >= "
                  "0 AND cause = ''"),
              "0");
    // Each own slot names its machine; each raised alarm has its texts, the plant's first language first.
    EXPECT_EQ(one(db,
                  "SELECT count(*) FROM state_intervals WHERE slot >= 0 AND "
                  "(foreign_machine = 0) <> (machine BETWEEN 1 AND 5)"),
              "0");
    EXPECT_EQ(one(db,
                  "SELECT count(*) FROM (SELECT DISTINCT text_key FROM alarm_episodes) WHERE text_key NOT IN "
                  "(SELECT text_key FROM alarm_texts WHERE position = 1)"),
              "0");
    EXPECT_GT(std::stoi(one(db, "SELECT count(DISTINCT slot) FROM state_intervals")), 10);
    EXPECT_GT(std::stoi(one(db, "SELECT count(*) FROM state_intervals WHERE status = 4")), 3);
    sqlite3_close(db);

    showInBrowser(withHistory.base() + "/History.db", withHistory.base());
}

}  // namespace
}  // namespace orvanta
