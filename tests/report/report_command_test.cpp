#include "report/report_command.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "report/history_generator.h"
#include "report/svg_writer.h"
#include "report_fixture.h"
#include "support/running_program.h"

namespace orvanta::report {
namespace {

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

Outcome run(const std::vector<std::string>& arguments, std::optional<Millis> now = std::nullopt) {
    std::ostringstream out;
    std::ostringstream err;
    Outcome result;
    result.status = now ? runReport(arguments, out, err, *now) : runReport(arguments, out, err);
    result.out = out.str();
    result.err = err.str();
    return result;
}

// Table cells are padded to their column: one space between cells makes a row comparable.
std::string squeezed(const std::string& text) { return std::regex_replace(text, std::regex(" +"), " "); }

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

TEST(ReportCommand, ReportsEveryReadableFileAndNamesEachOneThatIsNot) {
    testing::ReportFolder folder;
    const std::string first = folder.path("l1.db");
    const std::string second = folder.path("l2.db");
    testing::writeKnownHistory(first, "L1");
    testing::writeKnownHistory(second, "L2, hall 3");
    const std::string notHistory = folder.path("notes.txt");
    std::ofstream(notHistory) << "some notes, long enough to be no database header at all........\n";

    const std::string empty = folder.path("empty.db");
    { HistoryFileWriter nothing(empty); }

    const Outcome text = run({first, folder.path("missing.db"), notHistory, second, empty});
    EXPECT_EQ(text.status, kExitFileFailed);
    EXPECT_NE(text.err.find(folder.path("missing.db") + ": No such file or directory"), std::string::npos)
        << text.err;
    EXPECT_NE(text.err.find(notHistory + ": "), std::string::npos) << text.err;
    const std::string body = squeezed(text.out);
    EXPECT_NE(body.find("Line L1 (" + first + ")"), std::string::npos) << body;
    EXPECT_NE(body.find("Line L2, hall 3 (" + second + ")"), std::string::npos);
    EXPECT_NE(body.find("Period: 2026-12-07 02:00:00 to 2026-12-08 07:00:00, 29:00:00; times in the line's "
                        "local time, UTC+02:00"),
              std::string::npos)
        << body;
    for (const char* row : {
             " 0 Filler 26:30:00 0:15:00 0:00:00 0:45:00 0:00:00 0:15:00 1:15:00 97.3 % 3 8:55:00 0:15:00\n",
             " 5 Palletiser (foreign) 1:00:00 0:00:00 0:45:00 0:00:00 2:00:00 0:00:00 25:15:00 100.0 % 0 - "
             "-\n",
             " 0 Filler Jam 0:15:00 2\n",
             "episodes 26 in 168 windows; mean 0.15, peak 11 at 2026-12-07 02:20:00; in flood 1 windows, 0.6 "
             "%\n",
             " machine 2 table 2 fault 3 Low air 11 42.3 %\n",
             " machine 1 table 1 fault 7 Jam at infeed 4 2026-12-07 02:10:00\n",
             " machine 3 table 1 fault 9 Guard open 2026-12-07 05:10:00 open 25:50:00\n",
             " machine 1 table 2 fault 4 Belt worn 2026-12-07 05:20:00 2026-12-08 06:00:00 24:40:00\n",
         })
        EXPECT_NE(body.find(row), std::string::npos) << row;
    EXPECT_NE(body.find("(" + empty +
                        ")\nPeriod: 1970-01-01 00:00:00 to 1970-01-01 00:00:00, 0:00:00; times in the "
                        "line's local time, UTC+00:00\nThe file holds no runs of the panel.\n"),
              std::string::npos);
    EXPECT_NE(body.find("availability = up / (up + down); up = running + warning + message, down = fault"),
              std::string::npos);

    const Outcome csv =
        run({"--format=csv", "--from", "2026-12-07T00:35Z", "--to", "2026-12-07T04:20Z", first, second});
    EXPECT_EQ(csv.status, kExitReported) << csv.err;
    std::vector<std::string> lines;
    std::istringstream in(csv.out);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    // A table per figure, each headed, its rows named by their figure; CR LF as spreadsheets expect.
    std::vector<std::string> headers;
    for (const std::string& line : lines)
        if (line.rfind("figure,", 0) == 0) headers.push_back(line.substr(0, line.find(',', 7)));
    EXPECT_EQ(headers, (std::vector<std::string>{"figure,line", "figure,line", "figure,line", "figure,line",
                                                 "figure,line", "figure,line"}));
    auto has = [&](const std::string& row) {
        return std::find(lines.begin(), lines.end(), row + "\r") != lines.end();
    };
    EXPECT_TRUE(
        has("states,L1," + first +
            ",2026-12-07T00:35:00Z,2026-12-07T04:20:00Z,0,,Filler,0,5400.000,900.000,0.000,2400.000,0.000,"
            "300.000,4500.000,0.724138,2,3150.000,1200.000"))
        << csv.out;
    EXPECT_TRUE(
        has("states,\"L2, hall 3\"," + second +
            ",2026-12-07T00:35:00Z,2026-12-07T04:20:00Z,5,,Palletiser,1,1200.000,0.000,2700.000,0.000,"
            "5100.000,0.000,4500.000,1.000000,0,,"));
    EXPECT_TRUE(has("downtime,L1,0,,Filler,2,,,,,Jam,600.000,1"));
    EXPECT_TRUE(has("alarm load,L1,3,17,0.1765,1,2026-12-07T00:30:00Z,0,0.000000"));
    EXPECT_TRUE(has("bad actors,L1,1,1,2,4,Belt worn,1,0.333333"));
}

TEST(ReportCommand, RefusesWhatItCannotUnderstandWithTheUsage) {
    testing::ReportFolder folder;
    const std::string file = folder.path("l1.db");
    testing::writeKnownHistory(file);
    for (const std::vector<std::string>& arguments : std::vector<std::vector<std::string>>{
             {},
             {"--from", "yesterday", file},
             {"--to", "2026-02-30", file},
             {"--from", "2026-12-07T10:00Z", "--to", "2026-12-07T09:00Z", file},
             {"--format", "pdf", file},
             {"--colour", file},
             {file, "--output"},
             {"--last", "year", file},
             {"--last", "Day", file},
             {"--last", "day", "--from", "2026-12-07", file},
             {"--to=2026-12-08", "--last=week", file},
             {"--last", "shift", "--ini", file + ".missing.ini", file},
             {"--lang", "klingon", file},
             {"--events", file},
             {"--format", "html", "--events", file}}) {
        const Outcome refused = run(arguments);
        EXPECT_EQ(refused.status, kExitUsage) << arguments.size();
        EXPECT_NE(refused.err.find("Usage: orvanta-report"), std::string::npos);
        EXPECT_EQ(refused.out, "");
    }
    const Outcome help = run({"--help"});
    EXPECT_EQ(help.status, kExitReported);
    EXPECT_NE(help.out.find("Usage: orvanta-report"), std::string::npos);
}

// The stops' parts and the episodes themselves: a stop whose alarm changed is two parts of one stop, one
// that ran on through a gap is one stop before and after it, a message's record while it leads the line
// is not counted again; the texts in the language asked for.
TEST(ReportCommand, TheEventsExportHasEveryPartOfEveryStopAndEveryEpisode) {
    testing::ReportFolder folder;
    const std::string file = folder.path("machines.db");
    testing::writeMachineHistory(file);
    const Outcome events = run({"--format", "csv", "--events", "--lang", "en", file});
    ASSERT_EQ(events.status, kExitReported) << events.err;
    for (const std::string row : {
             "stop,L2,1,3,3,Capper,2026-12-07T00:05:00Z,2026-12-07T00:10:00Z,300.000,3,1,301,ALM_3_301,"
             "Emergency stop pressed\r\n",
             "stop,L2,4,3,3,Capper,2026-12-07T00:40:00Z,2026-12-07T00:50:00Z,600.000,3,1,302,ALM_3_302,Guard "
             "open\r\n"
             "stop,L2,4,3,3,Capper,2026-12-07T00:50:00Z,2026-12-07T01:00:00Z,600.000,3,1,303,ALM_3_303,Drive "
             "fault\r\n",
             "stop,L2,6,2,2,Filler,2026-12-07T01:10:00Z,2026-12-07T01:20:00Z,600.000,2,1,201,ALM_2_201,"
             "Jam\r\n",
             "stop,L2,6,2,2,Filler,2026-12-07T01:25:00Z,2026-12-07T01:40:00Z,900.000,2,1,201,ALM_2_201,"
             "Jam\r\n",
             "episode,L2,2,2,210,ALM_2_210,Format "
             "change,5,2026-12-07T01:45:00Z,,,2026-12-07T01:50:00Z,300.000,1\r\n"
             "episode,L2,2,3,210,ALM_2_210,ALM_2_210,5,2026-12-07T01:45:00Z,2026-12-07T01:45:00Z,,"
             "2026-12-07T01:50:00Z,300.000,0\r\n",
         })
        EXPECT_NE(events.out.find(row), std::string::npos) << row << " in\n" << events.out;
    // 4 stops of the Capper in 5 parts, the Filler's one in 2, the line's 2 in 3; 8 episodes.
    const auto count = [&](const std::string& start) {
        std::size_t found = 0;
        for (std::size_t at = events.out.find(start); at != std::string::npos;
             at = events.out.find(start, at + 1))
            ++found;
        return found;
    };
    EXPECT_EQ(count("\nstop,"), 10u);
    EXPECT_EQ(count("\nepisode,"), 8u);
}

// A day the panel never ran, and a file that holds no run at all: the line's row is still there, all of
// the period no data, and the report says why nothing else is.
TEST(ReportCommand, APeriodWithoutRecordsShowsTheLinesRowAsNoDataAndSaysSo) {
    testing::ReportFolder folder;
    const std::string known = folder.path("known.db");
    testing::writeKnownHistory(known);
    const std::string empty = folder.path("empty.db");
    { HistoryFileWriter nothing(empty); }
    const std::string idle = " 0:00:00 0:00:00 0:00:00 0:00:00 0:00:00 0:00:00 24:00:00 - 0 - -\n";
    const std::string idleCells =
        "<td>0:00:00</td><td>0:00:00</td><td>0:00:00</td><td>0:00:00</td><td>0:00:00</td>"
        "<td>0:00:00</td><td>24:00:00</td><td>-</td><td>0</td><td>-</td><td>-</td></tr>";
    const std::string idleCsv = ",0,0.000,0.000,0.000,0.000,0.000,0.000,86400.000,,0,,\r\n";
    const std::string period = ",2026-12-10T00:00:00Z,2026-12-11T00:00:00Z,-1,,";
    struct Case {
        std::string form;
        std::string file;
        std::vector<std::string> shown;
    };
    const std::vector<Case> cases{
        {"text", known, {"\n line L1" + idle, "\nThere are no records in the period.\n"}},
        {"text", empty, {"\n line empty" + idle, "\nThe file holds no runs of the panel.\n"}},
        {"html",
         known,
         {"<tr><td>line L1</td>" + idleCells, "<p>There are no records in the period.</p>",
          ">line L1</text>"}},
        {"csv", known, {"\r\nstates,L1," + known + period + "L1" + idleCsv}},
        {"csv", empty, {"\r\nstates,," + empty + period + "empty" + idleCsv}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.form + " " + c.file);
        const Outcome outcome =
            run({"--from", "2026-12-10T00:00Z", "--to", "2026-12-11T00:00Z", "--format", c.form, c.file});
        ASSERT_EQ(outcome.status, kExitReported) << outcome.err;
        const std::string body = c.form == "text" ? squeezed(outcome.out) : outcome.out;
        for (const std::string& shown : c.shown)
            EXPECT_NE(body.find(shown), std::string::npos) << shown << " in\n" << body;
        if (c.form == "csv") {
            EXPECT_EQ(body.find("no records"), std::string::npos);
        }
    }
    // A period with records says nothing of the kind.
    EXPECT_EQ(run({known}).out.find("no records"), std::string::npos);
}

// The shifts come from [Report] Shifts of the INI named, else of the plant's own below the history's folder
// (found whatever the case of its path, as the panel finds it), else the usual three; only --last shift
// reads them.
TEST(ReportCommand, TheLastShiftIsOneOfTheShiftsTheIniLists) {
    testing::LocalZone zone("UTC");
    testing::ReportFolder folder;
    const std::string plant = folder.path("plant");
    const std::string history = plant + "/History.db";
    const std::string own = plant + "/program/orvanta/orvanta.ini";
    const std::string other = folder.path("other.ini");
    std::filesystem::create_directories(plant + "/program/orvanta");
    testing::writeKnownHistory(history);
    std::ofstream(other) << "[Report]\nShifts = 12:00\n";
    const Millis now = testing::at(32, 0);  // 2026-12-08 08:00 UTC
    struct Case {
        const char* what;
        std::optional<std::string> ini;  // the plant's own; nullopt: none
        std::vector<std::string> arguments;
        int status;
        std::string shown;  // on standard output when reported, else on standard error
    };
    const std::vector<Case> cases{
        {"no INI",
         std::nullopt,
         {"--last", "shift"},
         kExitReported,
         "Period: shift 22:00–06:00, 2026-12-08 00:00:00"},
        {"no entry",
         "[Report]\nOther=1\n[Shift]\nShifts=07:00\n",
         {"--last", "shift"},
         kExitReported,
         "Period: shift 22:00–06:00, "},
        {"empty entry",
         "[Report]\nShifts=\n",
         {"--last", "shift"},
         kExitReported,
         "Period: shift 22:00–06:00, "},
        {"two shifts",
         "; the plant's\n[report]\nSHIFTS = 07:00, 19:00\n",
         {"--last", "shift"},
         kExitReported,
         "Period: shift 19:00–07:00, 2026-12-07 21:00:00 to 2026-12-08 09:00:00, 12:00:00;"},
        {"--ini first",
         "[Report]\nShifts=07:00,19:00\n",
         {"--ini", other, "--last", "shift"},
         kExitReported,
         "Period: shift 12:00–12:00, 2026-12-06 14:00:00 to 2026-12-07 14:00:00, 24:00:00;"},
        {"malformed",
         "[Report]\nShifts=22:00,06:00\n",
         {"--last", "shift"},
         kExitUsage,
         "orvanta-report: " + own +
             " [Report] Shifts: \"22:00,06:00\" is not a list of start times such as "
             "06:00,14:00,22:00"},
        {"malformed, not read for a day",
         "[Report]\nShifts=6\n",
         {"--last", "day"},
         kExitReported,
         "Period: day 2026-12-07, 2026-12-07 02:00:00 to 2026-12-08 02:00:00, 24:00:00;"},
        {"--ini missing",
         std::nullopt,
         {"--ini", other + "x", "--last", "day"},
         kExitUsage,
         "orvanta-report: --ini " + other + "x: no such file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove(own);
        if (c.ini) std::ofstream(own) << *c.ini;
        std::vector<std::string> arguments = c.arguments;
        arguments.push_back(history);
        const Outcome outcome = run(arguments, now);
        EXPECT_EQ(outcome.status, c.status) << outcome.err;
        const std::string& said = c.status == kExitReported ? outcome.out : outcome.err;
        EXPECT_NE(said.find(c.shown), std::string::npos) << said;
    }
}

// An --output that is a file the report reads, by any name, would destroy the history it reports on.
TEST(ReportCommand, RefusesAnOutputThatIsAHistoryItReadsOrAFileBesideIt) {
    testing::ReportFolder folder;
    const std::string history = folder.path("History.db");
    testing::writeKnownHistory(history);
    std::ofstream(history + "-wal") << "";  // an empty -wal, as a panel's checkpoint leaves it
    std::filesystem::create_directories(folder.path("sub"));
    std::filesystem::create_symlink(history, folder.path("link.db"));
    std::filesystem::create_symlink(history + "-shm", folder.path("shm-link"));  // to no file yet
    std::filesystem::create_hard_link(history, folder.path("hard.db"));
    const std::string before = readFile(history);
    struct Case {
        std::string output;
        std::vector<std::string> inputs;
        std::string refusal;  // empty: written
    };
    const std::vector<Case> cases{
        {history, {history}, "is the history file " + history},
        {folder.path("sub/../History.db"), {history}, "is the history file " + history},
        {folder.path("link.db"), {history}, "is the history file " + history},
        {history, {folder.path("link.db")}, "is the history file " + folder.path("link.db")},
        {folder.path("hard.db"), {history}, "is the history file " + history},
        {history + "-wal", {history}, "is the -wal of the history file " + history},
        {folder.path("shm-link"), {history}, "is the -shm of the history file " + history},
        {history + "-journal", {folder.path("link.db")}, "is the -journal of the history file "},
        {folder.path("report.txt"), {history}, ""},
    };
    for (const Case& c : cases) {
        std::vector<std::string> arguments{"--output", c.output};
        arguments.insert(arguments.end(), c.inputs.begin(), c.inputs.end());
        const Outcome outcome = run(arguments);
        if (c.refusal.empty()) {
            EXPECT_EQ(outcome.status, kExitReported) << c.output << ": " << outcome.err;
            EXPECT_NE(readFile(c.output).find("Line L1"), std::string::npos) << c.output;
            continue;
        }
        EXPECT_EQ(outcome.status, kExitUsage) << c.output;
        EXPECT_NE(outcome.err.find("orvanta-report: --output " + c.output + " " + c.refusal),
                  std::string::npos)
            << outcome.err;
        EXPECT_NE(outcome.err.find("the report would overwrite it"), std::string::npos) << outcome.err;
        EXPECT_EQ(readFile(history), before) << c.output;
        EXPECT_EQ(readFile(history + "-wal"), "") << c.output;
        EXPECT_FALSE(std::filesystem::exists(history + "-shm")) << c.output;
        EXPECT_FALSE(std::filesystem::exists(history + "-journal")) << c.output;
    }
}

TEST(ReportCommand, TheProgramWritesOneSelfContainedHtmlFileAndSaysWhenNoFileCouldBeRead) {
    testing::ReportFolder folder;
    const std::string file = folder.path("l1.db");
    testing::writeKnownHistory(file);
    const std::string html = folder.path("report.html");
    testing::RunningProgram report(ORVANTA_REPORT_BINARY, {"--format", "html", "--output", html, file});
    EXPECT_EQ(report.waitForExit(std::chrono::seconds(20)), 0) << report.stderrText;
    EXPECT_EQ(report.stdoutText, "");
    const std::string page = readFile(html);
    EXPECT_EQ(page.rfind("<!DOCTYPE html>", 0), 0u);
    EXPECT_NE(page.find("</html>"), std::string::npos);
    std::size_t pictures = 0;
    for (std::size_t at = page.find("<svg "); at != std::string::npos; at = page.find("<svg ", at + 1))
        ++pictures;
    EXPECT_EQ(pictures, 3u);
    // The figures are the ones of the text, in table cells; the pictures name what they draw.
    for (const char* shown : {
             "<tr><td>slot 0 "
             "Filler</td><td>26:30:00</td><td>0:15:00</td><td>0:00:00</td><td>0:45:00</td><td>0:00:00</td>"
             "<td>0:15:00</td><td>1:15:00</td><td>97.3 %</td><td>3</td><td>8:55:00</td><td>0:15:00</td></tr>",
             "<tr><th>slot</th><th>running</th><th>warning</th><th>message</th><th>fault</th><th>not "
             "connected</th>"
             "<th>maintenance</th><th>no "
             "data</th><th>availability</th><th>stops</th><th>MTBF</th><th>MTTR</th></tr>",
             "<tr><td>slot 7 Capper</td><td>Capsule défaut</td><td>0:20:00</td><td>1</td></tr>",
             "<tr><td>26</td><td>168</td><td>0.15</td><td>11</td><td>2026-12-07 "
             "02:20:00</td><td>1</td><td>0.6 %</td></tr>",
             "<tr><td>machine 2 table 2 fault 3</td><td>Low air</td><td>11</td><td>42.3 %</td></tr>",
             "<tr><td>machine 1 table 1 fault 7</td><td>Jam at infeed</td><td>4</td><td>2026-12-07 "
             "02:10:00</td></tr>",
             "<tr><td>machine 3 table 1 fault 9</td><td>Guard open</td><td>2026-12-07 "
             "05:10:00</td><td>open</td>"
             "<td>25:50:00</td></tr>",
             "<title>Jam: 0:35:00, 3 times</title>",
             ">flood: more than 10 in 10 minutes</text>",
             "fill=\"#D93025\"><title>11</title>",  // the flood's bar, in the fault's colour
             "fill=\"#2EA044\"><title>running</title>",
         })
        EXPECT_NE(page.find(shown), std::string::npos) << shown;

    // Nothing the browser would fetch: no source, link, import or url() of any kind.
    for (const char* reference : {" src=", " href=", "url(", "@import", "<link", "<script"})
        EXPECT_EQ(page.find(reference), std::string::npos) << reference;

    testing::RunningProgram missing(ORVANTA_REPORT_BINARY, {folder.path("gone.db")});
    EXPECT_EQ(missing.waitForExit(std::chrono::seconds(20)), 1);
    EXPECT_NE(missing.stderrText.find("gone.db: No such file or directory"), std::string::npos);
    EXPECT_EQ(missing.stdoutText, "");
    EXPECT_FALSE(std::filesystem::exists(folder.path("gone.db")));
}

// Root reads whatever the permissions say: the report then runs as nobody, as a user of the office would.
testing::RunningProgram reportAsOtherUser(const std::vector<std::string>& arguments) {
    if (geteuid() != 0) return testing::RunningProgram(ORVANTA_REPORT_BINARY, arguments);
    std::vector<std::string> command{"--reuid=65534", "--regid=65534", "--clear-groups", "--",
                                     ORVANTA_REPORT_BINARY};
    command.insert(command.end(), arguments.begin(), arguments.end());
    return testing::RunningProgram("/usr/bin/setpriv", command);
}

sqlite3* walWriter(const std::string& path) {
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    sqlite3_exec(db, "PRAGMA journal_mode = WAL; PRAGMA wal_autocheckpoint = 0", nullptr, nullptr, nullptr);
    return db;
}

void addRun(sqlite3* db, const std::string& line) {
    const std::string insert =
        "INSERT INTO runs (run, line, started, utc_offset, last_seen, ended) VALUES (" +
        std::to_string(testing::at(30, 0)) + ", '" + line + "', " + std::to_string(testing::at(30, 0)) +
        ", 60, " + std::to_string(testing::at(31, 0)) + ", NULL)";
    EXPECT_EQ(sqlite3_exec(db, insert.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
}

// On a line PC the service user owns the plant folder and everyone else may only read it. What the
// panel finished (WAL, no index left), and what it is writing (index and -wal beside it), are reported;
// changes left in a -wal without its index are named, never left out unsaid.
TEST(ReportCommand, ReportsHistoriesInAFolderTheUserMayOnlyRead) {
    if (geteuid() == 0 && !std::filesystem::exists("/usr/bin/setpriv")) GTEST_SKIP() << "no setpriv";
    namespace fs = std::filesystem;
    testing::ReportFolder folder;
    const std::string plant = folder.path("plant");
    fs::create_directories(plant);
    const std::string finished = plant + "/finished.db";
    testing::writeKnownHistory(finished, "Finished");
    sqlite3_close(walWriter(finished));  // the last connection's end takes the -wal and the index away

    const std::string writing = plant + "/writing.db";
    testing::writeKnownHistory(writing, "Writing");
    sqlite3* panel = walWriter(writing);
    addRun(panel, "Writing still");  // only in the -wal while the panel runs

    // A crash's -wal, copied without its index: its run is in no other place.
    const std::string crashed = plant + "/crashed.db";
    testing::writeKnownHistory(crashed, "Crashed");
    sqlite3* lost = walWriter(crashed);
    addRun(lost, "Crashed late");
    fs::copy_file(crashed, plant + "/copy.db");
    fs::copy_file(crashed + "-wal", plant + "/copy.db-wal");
    sqlite3_close(lost);

    fs::permissions(plant, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    struct Case {
        std::string file;
        int status;
        std::string shown;  // on standard output, or on standard error when refused
    };
    const std::vector<Case> cases{
        {finished, kExitReported, "Line Finished"},
        {writing, kExitReported, "Line Writing still"},
        {plant + "/copy.db", kExitFileFailed,
         plant + "/copy.db: cannot read: unable to open database file (its -wal holds changes"},
    };
    for (const Case& c : cases) {
        testing::RunningProgram report = reportAsOtherUser({c.file});
        EXPECT_EQ(report.waitForExit(std::chrono::seconds(20)), c.status)
            << c.file << ": " << report.stderrText;
        const std::string& said = c.status == kExitReported ? report.stdoutText : report.stderrText;
        EXPECT_NE(said.find(c.shown), std::string::npos) << said;
    }
    fs::permissions(plant, fs::perms::owner_all, fs::perm_options::add);
    sqlite3_close(panel);
}

// A name, cause or alarm text that a spreadsheet would run (OWASP: =, +, -, @, tab, carriage return first)
// is shown as text; the report's own numbers, the line's slot -1 among them, stay numbers.
TEST(ReportCommand, CsvCellsAFileSuppliesAreNeverFormulas) {
    testing::ReportFolder folder;
    const std::string path = folder.path("texts.db");
    const std::vector<std::pair<std::string, std::string>> cases{
        {"=HYPERLINK(\"http://x\",\"y\")", "\"'=HYPERLINK(\"\"http://x\"\",\"\"y\"\")\""},
        {"+41 55 123", "\"'+41 55 123\""},
        {"-2+3", "\"'-2+3\""},
        {"@SUM(A1:A9)", "\"'@SUM(A1:A9)\""},
        {"\tcmd", "\"'\tcmd\""},
        {"\rcmd", "\"'\rcmd\""},
        {"Door = open", "Door = open"},
    };
    {
        HistoryFileWriter out(path);
        const Millis run = testing::at(0, 0);
        out.run(run, "-L1", run, testing::at(2, 0), testing::at(2, 0));
        out.interval(run, history::kLineSlot, "-L1", 1, testing::at(0, 0), testing::at(2, 0));
        for (std::size_t i = 0; i < cases.size(); ++i) {
            const int slot = static_cast<int>(i);
            const std::string& text = cases[i].first;
            out.interval(run, slot, text, 4, testing::at(0, slot), testing::at(0, slot, 30), text);
            out.episode(run, 1, 1, slot, text, testing::at(0, slot), testing::at(0, slot, 10));
        }
    }
    const Outcome csv = run({"--format", "csv", path});
    ASSERT_EQ(csv.status, kExitReported) << csv.err;
    for (const auto& [text, cell] : cases) {
        // As the slot's name, its cause and the alarm's text: three cells at least.
        std::size_t found = 0;
        for (std::size_t at = csv.out.find("," + cell + ","); at != std::string::npos;
             at = csv.out.find("," + cell + ",", at + 1))
            ++found;
        EXPECT_GE(found, 3u) << cell << " in\n" << csv.out;
    }
    EXPECT_NE(csv.out.find("states,\"'-L1\"," + path + ","), std::string::npos) << csv.out;
    EXPECT_NE(csv.out.find("Z,-1,,\"'-L1\",0,"), std::string::npos) << csv.out;
}

// Alarm texts and causes come from a plant's databases: in the HTML they are text, never markup.
TEST(ReportCommand, TextsAreEscapedForHtmlAndSvg) {
    EXPECT_EQ(escapeXml("Door <open> & \"locked\" 'now'\x01\tok\n"),
              "Door &lt;open&gt; &amp; &quot;locked&quot; &#39;now&#39; \tok\n");
}

}  // namespace
}  // namespace orvanta::report
