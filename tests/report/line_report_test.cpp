#include "report/line_report.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "report/alarm_texts.h"
#include "report/report_writers.h"
#include "report/sqlite_file.h"
#include "report_fixture.h"
#include "support/without_privileges.h"

namespace orvanta::report {
namespace {

using testing::at;
using testing::minutes;

// One slot's figures as a line of text: a whole table compares at once and a difference reads plainly.
std::string row(const SlotFigures& s) {
    std::string text = slotLabel(s) + " |";
    for (const Millis t : s.timeIn) {
        char cell[24];
        std::snprintf(cell, sizeof cell, " %g", static_cast<double>(t) / 60000.0);
        text += cell;
    }
    char tail[96];
    std::snprintf(tail, sizeof tail, " | stops %lld avail %.4f mtbf %g mttr %g",
                  static_cast<long long>(s.stops), s.availability().value_or(-1),
                  s.mtbf() ? static_cast<double>(*s.mtbf()) / 60000.0 : -1,
                  s.mttr() ? static_cast<double>(*s.mttr()) / 60000.0 : -1);
    return text + tail;
}

std::vector<std::string> rows(const LineReport& r) {
    std::vector<std::string> all;
    for (const SlotFigures& s : r.slots) all.push_back(row(s));
    return all;
}

std::vector<std::string> causes(const LineReport& r) {
    std::vector<std::string> all;
    for (const SlotFigures& s : r.slots)
        for (const CauseDowntime& c : s.causes)
            all.push_back(std::to_string(s.slot) + " " + causeLabel(c.cause) + " " +
                          std::to_string(c.duration / 60000) + " min x" + std::to_string(c.count));
    return all;
}

std::vector<std::string> alarms(const LineReport& r) {
    std::vector<std::string> all;
    auto name = [](const AlarmName& a) {
        return std::to_string(a.machine) + "/" + std::to_string(a.table) + "/" + std::to_string(a.fault) +
               " " + a.text;
    };
    char share[32];
    for (const BadActor& a : r.badActors) {
        std::snprintf(share, sizeof share, " %.3f", a.share);
        all.push_back("bad " + name(a.alarm) + " " + std::to_string(a.count) + share);
    }
    for (const ChatteringAlarm& a : r.chattering)
        all.push_back("chatter " + name(a.alarm) + " " + std::to_string(a.count) + " from " +
                      std::to_string((a.first - at(0, 0)) / 1000) + " s");
    for (const StandingAlarm& a : r.standing)
        all.push_back("standing " + name(a.alarm) + " " + std::to_string(a.active / 1000) + " s" +
                      (a.cleared ? "" : " open"));
    return all;
}

TEST(LineReport, FiguresOfTheWholeHistoryMatchTheHandWorkedAnswers) {
    testing::ReportFolder folder;
    const std::string file = folder.path("known.db");
    testing::writeKnownHistory(file);
    const LineReport r = reportOn(file, {});

    EXPECT_EQ(r.line, "L1");
    EXPECT_EQ(r.from, at(0, 0));
    EXPECT_EQ(r.to, at(29, 0));
    EXPECT_EQ(r.utcOffsetMinutes, 120);  // of the latest run
    // The hour between the runs and the gap are no data; the crashed run's open rows last to its last sign;
    // the foreign machine's running across the gap loses the gap's 15 minutes.
    EXPECT_EQ(rows(r),
              (std::vector<std::string>{
                  "line L1 | 75 140 0 0 1525 0 0 | stops 2 avail 0.0841 mtbf 70 mttr 762.5",
                  "slot 0 Filler | 75 1590 15 0 45 0 15 | stops 3 avail 0.9727 mtbf 535 mttr 15",
                  "slot 5 Palletiser (foreign) | 1515 60 0 45 0 120 0 | stops 0 avail 1.0000 mtbf -1 mttr -1",
                  "slot 6 Labeller | 1620 0 0 0 0 0 120 | stops 0 avail -1.0000 mtbf -1 mttr -1",
                  "slot 7 Capper | 1680 20 0 0 40 0 0 | stops 2 avail 0.3333 mtbf 10 mttr 20",
              }));
    EXPECT_EQ(causes(r), (std::vector<std::string>{"-1 Door open 1515 min x1", "-1 Jam 10 min x1",
                                                   "0 Door open 30 min x1", "0 Jam 15 min x2",
                                                   "7 Capsule défaut 20 min x1", "7 Jam 20 min x1"}));
    ASSERT_EQ(r.pareto.size(), 3u);  // the machines' causes, without the line's
    EXPECT_EQ(r.pareto[0], (CauseDowntime{{0, 0, 0, {}, "Jam"}, minutes(35), 3}));
    EXPECT_EQ(r.pareto[1], (CauseDowntime{{0, 0, 0, {}, "Door open"}, minutes(30), 1}));
    EXPECT_EQ(r.pareto[2], (CauseDowntime{{0, 0, 0, {}, "Capsule défaut"}, minutes(20), 1}));

    // 12 windows in the first run, 156 in the second; 26 episodes; the flood in the window at 00:20.
    EXPECT_EQ(r.load.windows, 168);
    EXPECT_EQ(r.load.episodes, 26);
    EXPECT_DOUBLE_EQ(r.load.mean, 26.0 / 168.0);
    EXPECT_EQ(r.load.peak, 11);
    EXPECT_EQ(r.load.peakAt, at(0, 20));
    EXPECT_EQ(r.load.floodWindows, 1);
    EXPECT_DOUBLE_EQ(r.load.floodShare(), 1.0 / 168.0);
    EXPECT_EQ(alarms(r), (std::vector<std::string>{
                             "bad 2/2/3 Low air 11 0.423",
                             "bad 3/2/5 Door ajar 6 0.231",
                             "bad 1/1/7 Jam at infeed 4 0.154",
                             "bad 5/1/2 Cap missing 2 0.077",
                             "bad 1/2/4 Belt worn 1 0.038",
                             "bad 3/1/9 Guard open 1 0.038",
                             "bad 4/2/1 ALM_4_1 1 0.038",
                             "chatter 2/2/3 Low air 11 from 1200 s",
                             "chatter 1/1/7 Jam at infeed 4 from 600 s",
                             "standing 3/1/9 Guard open 93000 s open",
                             "standing 1/2/4 Belt worn 88800 s",
                         }));
}

TEST(LineReport, APeriodClipsEveryIntervalAndCountsOnlyWhatBeginsInIt) {
    testing::ReportFolder folder;
    const std::string file = folder.path("known.db");
    testing::writeKnownHistory(file);
    ReportRequest request;
    request.from = at(0, 35);
    request.to = at(4, 20);
    const LineReport r = reportOn(file, request);

    // The Jam that began at 00:30 adds its last 5 minutes but is no stop of this period, nor counted for its
    // cause: the period's own share.
    EXPECT_EQ(rows(r),
              (std::vector<std::string>{
                  "line L1 | 75 110 0 0 40 0 0 | stops 1 avail 0.7333 mtbf 110 mttr 40",
                  "slot 0 Filler | 75 90 15 0 40 0 5 | stops 2 avail 0.7241 mtbf 52.5 mttr 20",
                  "slot 5 Palletiser (foreign) | 75 20 0 45 0 85 0 | stops 0 avail 1.0000 mtbf -1 mttr -1",
                  "slot 6 Labeller | 140 0 0 0 0 0 85 | stops 0 avail -1.0000 mtbf -1 mttr -1",
                  "slot 7 Capper | 200 0 0 0 25 0 0 | stops 1 avail 0.0000 mtbf 0 mttr 25",
              }));
    EXPECT_EQ(causes(r),
              (std::vector<std::string>{"-1 Door open 35 min x1", "-1 Jam 5 min x0", "0 Door open 30 min x1",
                                        "0 Jam 10 min x1", "7 Capsule défaut 20 min x1", "7 Jam 5 min x0"}));
    // Windows from 00:30 (it lies partly in the period) to 01:50, and 03:00 to 04:10.
    EXPECT_EQ(r.load.windows, 17);
    EXPECT_EQ(r.load.episodes, 3);  // one raised at its start, none at its end
    EXPECT_EQ(r.load.floodWindows, 0);
    // Up to the period's end, nothing has stood a day.
    EXPECT_EQ(alarms(r),
              (std::vector<std::string>{"bad 1/2/4 Belt worn 1 0.333", "bad 3/1/9 Guard open 1 0.333",
                                        "bad 5/1/2 Cap missing 1 0.333"}));

    // A period that begins and ends inside the gaps: only the five minutes after them are known.
    request.from = at(3, 35);
    request.to = at(3, 50);
    EXPECT_EQ(rows(reportOn(file, request)),
              (std::vector<std::string>{
                  "line L1 | 10 0 0 0 5 0 0 | stops 1 avail 0.0000 mtbf 0 mttr 5",
                  "slot 0 Filler | 10 0 0 0 5 0 0 | stops 1 avail 0.0000 mtbf 0 mttr 5",
                  "slot 5 Palletiser (foreign) | 10 0 0 5 0 0 0 | stops 0 avail 1.0000 mtbf -1 mttr -1",
              }));

    // A stop that begins with the period is one of its stops; the interval of no length is none.
    request.from = at(3, 45);
    request.to = at(4, 15);
    EXPECT_EQ(rows(reportOn(file, request)),
              (std::vector<std::string>{
                  "line L1 | 0 0 0 0 30 0 0 | stops 1 avail 0.0000 mtbf 0 mttr 30",
                  "slot 0 Filler | 0 0 0 0 30 0 0 | stops 1 avail 0.0000 mtbf 0 mttr 30",
                  "slot 5 Palletiser (foreign) | 0 15 0 15 0 0 0 | stops 0 avail 1.0000 mtbf -1 mttr -1",
                  "slot 6 Labeller | 30 0 0 0 0 0 0 | stops 0 avail -1.0000 mtbf -1 mttr -1",
              }));

    // From the moment an alarm cleared it no longer stands; the open one does. Up to exactly a day is not
    // longer than a day.
    request.from = at(28, 0);
    request.to = at(29, 0);
    EXPECT_EQ(alarms(reportOn(file, request)),
              (std::vector<std::string>{"standing 3/1/9 Guard open 3600 s open"}));
    request.from = at(3, 0);
    request.to = at(27, 10);
    EXPECT_EQ(alarms(reportOn(file, request)),
              (std::vector<std::string>{"bad 1/2/4 Belt worn 1 0.333", "bad 3/1/9 Guard open 1 0.333",
                                        "bad 5/1/2 Cap missing 1 0.333"}));

    // Before the history, the line is still named, its times in the first run's offset; nothing is known:
    // the line's row alone, all of the hour no data.
    request.from = at(-2, 0);
    request.to = at(-1, 0);
    const LineReport before = reportOn(file, request);
    EXPECT_EQ(before.line, "L1");
    EXPECT_EQ(before.utcOffsetMinutes, 60);
    EXPECT_TRUE(before.noRecords);
    ASSERT_EQ(before.slots.size(), 1u);
    EXPECT_EQ(before.slots[0].slot, history::kLineSlot);
    EXPECT_EQ(before.slots[0].name, "L1");
    EXPECT_EQ(before.slots[0].timeIn, (std::array<Millis, kStatusCount>{60 * 60 * 1000, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(before.load.windows, 0);
    EXPECT_EQ(before.load.mean, 0.0);
    // Up to the second run, the foreign machine still has its old name.
    request.from = at(0, 0);
    request.to = at(3, 0);
    const LineReport first = reportOn(file, request);
    EXPECT_EQ(first.utcOffsetMinutes, 60);
    ASSERT_EQ(first.slots.size(), 5u);
    EXPECT_EQ(first.slots[2].name, "Palletiser old");
}

// Downtime goes to the alarm that led the machine during each part of a stop, one alarm is one cause in one
// language, a stop that runs on through a gap with its alarm is one stop, the line's stops have the cause
// that stopped the line, and a raise that leads the line counts once among the alarms.
TEST(LineReport, DowntimeGoesToTheAlarmsThatLedEachMachineNamedOnce) {
    testing::ReportFolder folder;
    const std::string file = folder.path("machines.db");
    testing::writeMachineHistory(file);
    const LineReport r = reportOn(file, {});

    EXPECT_EQ(rows(r),
              (std::vector<std::string>{
                  "line L2 | 5 70 0 0 45 0 0 | stops 2 avail 0.6087 mtbf 35 mttr 22.5",
                  "machine 2 Filler | 5 90 0 0 25 0 0 | stops 1 avail 0.7826 mtbf 90 mttr 25",
                  "machine 3 Capper | 5 80 0 0 35 0 0 | stops 4 avail 0.6957 mtbf 20 mttr 8.75",
                  "slot 4 Palletiser (foreign) | 5 115 0 0 0 0 0 | stops 0 avail 1.0000 mtbf -1 mttr -1",
              }));
    EXPECT_EQ(causes(r), (std::vector<std::string>{
                             "-1 Jam (machine 2 table 1 fault 201) 25 min x1",
                             "-1 Guard open (machine 3 table 1 fault 302) 20 min x1",
                             "2 Jam (machine 2 table 1 fault 201) 25 min x1",
                             "3 Not-Halt betätigt (machine 3 table 1 fault 301) 15 min x3",
                             "3 Guard open (machine 3 table 1 fault 302) 10 min x1",
                             "3 Drive fault (machine 3 table 1 fault 303) 10 min x1",
                         }));
    ASSERT_EQ(r.pareto.size(), 4u);
    EXPECT_EQ(r.pareto[1], (CauseDowntime{{3, 1, 301, "ALM_3_301", "Not-Halt betätigt"}, minutes(15), 3}));
    EXPECT_EQ(r.load.episodes, 7);
    EXPECT_EQ(alarms(r), (std::vector<std::string>{
                             "bad 3/1/301 Not-Halt betätigt 3 0.429",
                             "bad 2/1/201 Jam 1 0.143",
                             "bad 2/2/210 Format change 1 0.143",
                             "bad 3/1/302 Guard open 1 0.143",
                             "bad 3/1/303 Drive fault 1 0.143",
                         }));

    // The language asked for, by code or identifier; an alarm without recorded texts keeps the one shown.
    for (const std::string language : {"en", "1033", "en-GB"}) {
        ReportRequest request;
        request.language = language;
        const LineReport english = reportOn(file, request);
        EXPECT_EQ(english.pareto[1].cause.text, "Emergency stop pressed") << language;
        EXPECT_EQ(english.pareto[2].cause.text, "Guard open") << language;
    }
    ReportRequest unknown;
    unknown.language = "xx";
    EXPECT_THROW(reportOn(file, unknown), ReportError);
}

// A file of the first form has no machine numbers, zones or texts: its machines go by their slots, its
// stops by the text they recorded, its alarms by the text they were shown with.
TEST(LineReport, AFileOfTheFirstFormIsReadAsItWasWritten) {
    testing::ReportFolder folder;
    const std::string file = folder.path("first.db");
    testing::writeMachineHistory(file);
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db,
                           "DROP TABLE alarm_texts; ALTER TABLE runs DROP COLUMN time_zone; "
                           "ALTER TABLE state_intervals DROP COLUMN machine; PRAGMA user_version = 1",
                           nullptr, nullptr, nullptr),
              SQLITE_OK)
        << sqlite3_errmsg(db);
    sqlite3_close(db);
    ReportRequest request;
    request.language = "en";
    const LineReport r = reportOn(file, request);
    EXPECT_EQ(rows(r),
              (std::vector<std::string>{
                  "line L2 | 5 70 0 0 45 0 0 | stops 2 avail 0.6087 mtbf 35 mttr 22.5",
                  "slot 2 Filler | 5 90 0 0 25 0 0 | stops 1 avail 0.7826 mtbf 90 mttr 25",
                  "slot 3 Capper | 5 80 0 0 35 0 0 | stops 4 avail 0.6957 mtbf 20 mttr 8.75",
                  "slot 4 Palletiser (foreign) | 5 115 0 0 0 0 0 | stops 0 avail 1.0000 mtbf -1 mttr -1",
              }));
    EXPECT_EQ(causes(r)[2], "2 Jam 25 min x1");  // through the gap with the same text: one stop
    ASSERT_FALSE(r.badActors.empty());
    EXPECT_EQ(r.badActors[0].alarm.text, "Arrêt d'urgence activé");  // as last shown
}

// The language asked for picks one of an alarm's recorded texts: an identifier exactly, a code the first of
// that language in the plant's order; a language the file has none of, the plant's first.
TEST(LineReport, TheLanguageAskedForPicksOneRecordedText) {
    testing::ReportFolder folder;
    const std::string file = folder.path("texts.db");
    {
        HistoryFileWriter out(file);
        out.run(at(0, 0), "L5", at(0, 0), at(1, 0), at(1, 0));
        out.episode(at(0, 0), 3, 1, 301, "shown", at(0, 10), at(0, 20));
        out.alarmText(3, 301, 1031, 1, "Not-Halt");
        out.alarmText(3, 301, 2055, 2, "Notaus");
        out.alarmText(3, 301, 1033, 3, "E-stop");
    }
    const std::vector<std::pair<std::string, std::string>> cases{
        {"", "Not-Halt"},   {"de", "Not-Halt"}, {"DE-ch", "Not-Halt"}, {"2055", "Notaus"},
        {"1033", "E-stop"}, {"en", "E-stop"},   {"fr", "Not-Halt"},    {"3079", "Not-Halt"},
    };
    for (const auto& [language, text] : cases) {
        ReportRequest request;
        request.language = language;
        const LineReport r = reportOn(file, request);
        ASSERT_EQ(r.badActors.size(), 1u);
        EXPECT_EQ(r.badActors[0].alarm.text, text) << language;
    }
    for (const char* refused : {"0", "70000", "1031x", "xx", "d", "-1"})
        EXPECT_FALSE(parseLanguage(refused)) << refused;
}

// Within one stop of machine 1 (00:00 to 00:10): each stretch goes to the alarm that led then, one alarm
// raised again is still one part, and a stretch no alarm led is said as such.
TEST(LineReport, EachStretchOfAStopGoesToTheAlarmThatLedThen) {
    struct Raise {
        int fault;
        int from;  // minutes
        int to;
        int table = 1;
    };
    struct Case {
        const char* what;
        std::vector<Raise> raises;
        std::vector<std::string> causes;
    };
    const std::vector<Case> cases{
        {"cleared before the stop ended", {{101, 0, 6}}, {"101 6 min x1", "0 4 min x1"}},
        {"raised again", {{101, 0, 4}, {101, 4, 10}}, {"101 10 min x1"}},
        {"one after another, and back",
         {{101, 0, 3}, {102, 3, 5}, {101, 5, 10}},
         {"101 8 min x2", "102 2 min x1"}},
        {"raised again before it cleared", {{101, 0, 6}, {101, 4, 10}}, {"101 10 min x1"}},
        {"a message leading the line meanwhile", {{101, 0, 10}, {150, 2, 5, 3}}, {"101 10 min x1"}},
    };
    testing::ReportFolder folder;
    for (const Case& c : cases) {
        const std::string file = folder.path("stretches.db");
        {
            HistoryFileWriter out(file);
            out.run(at(0, 0), "L4", at(0, 0), at(0, 20), at(0, 20));
            for (const Raise& raise : c.raises)
                out.episode(at(0, 0), 1, raise.table, raise.fault, "F", at(0, raise.from), at(0, raise.to));
            out.interval(at(0, 0), 0, "Rinser", 4, at(0, 0), at(0, 10), "F", false, 1);
        }
        std::vector<std::string> causes;
        const LineReport r = reportOn(file, {});
        for (const CauseDowntime& cause : r.slots.at(1).causes)  // after the line's
            causes.push_back(std::to_string(cause.cause.fault) + " " +
                             std::to_string(cause.duration / 60000) + " min x" + std::to_string(cause.count));
        EXPECT_EQ(causes, c.causes) << c.what;
    }
}

// A line stop goes to the fault published as the line's alarm, though another machine went to fault first.
TEST(LineReport, ALineStopGoesToThePublishedFaultBeforeTheFirstMachineInFault) {
    testing::ReportFolder folder;
    const std::string file = folder.path("line.db");
    {
        HistoryFileWriter out(file);
        const Millis a = at(0, 0);
        out.run(a, "L3", a, at(1, 0), at(1, 0));
        out.episode(a, 1, 1, 101, "Door open", at(0, 10), at(0, 30));
        out.interval(a, 1, "Rinser", 4, at(0, 10), at(0, 30), "Door open", false, 1);
        out.episode(a, 2, 1, 201, "Jam", at(0, 12), at(0, 30), at(0, 12));
        out.episode(a, 1, 2, 150, "Low air", at(0, 5), at(0, 14));  // led machine 1 until 00:10: no matter
        out.interval(a, 2, "Filler", 4, at(0, 12), at(0, 30), "Jam", false, 2);
        out.interval(a, -1, "L3", 4, at(0, 15), at(0, 30));
    }
    const LineReport r = reportOn(file, {});
    ASSERT_FALSE(r.slots.empty());
    ASSERT_EQ(r.slots[0].causes.size(), 1u);
    EXPECT_EQ(r.slots[0].causes[0], (CauseDowntime{{2, 1, 201, "ALM_2_201", "Jam"}, minutes(15), 1}));
}

// The 10-minute windows begin at :00 on the line's clock, also where its offset is not whole hours; a time
// is shown on the line's clock at that moment, across a clock change of its recorded zone.
TEST(LineReport, WindowsAndTimesFollowTheLinesOwnClock) {
    testing::ReportFolder folder;
    const std::string file = folder.path("clock.db");
    {
        HistoryFileWriter out(file);
        out.run(at(0, 0), "Kathmandu", at(0, 0), at(1, 0), at(1, 0), 345);  // UTC+05:45: local :00 is UTC :15
        for (const Millis raised : {at(0, 6), at(0, 14), at(0, 16)})
            out.episode(at(0, 0), 1, 1, 7, "Jam", raised, raised + 1000);
    }
    const LineReport nepal = reportOn(file, {});
    EXPECT_EQ(nepal.load.peak, 2);           // 00:06 and 00:14 UTC lie in the window from local 06:00
    EXPECT_EQ(nepal.load.peakAt, at(0, 5));  // which began at 00:05 UTC
    EXPECT_EQ(nepal.load.windows, 7);        // 23:55 to 01:05 UTC, each partly within the run

    // 2026-10-25 01:00 UTC: Berlin goes from UTC+02:00 back to UTC+01:00.
    constexpr Millis kChange = 1'792'890'000'000;
    {
        HistoryFileWriter out(file);
        out.run(kChange - minutes(60), "Berlin", kChange - minutes(60), kChange + minutes(60),
                kChange + minutes(60), 120, "Europe/Berlin");
        out.episode(kChange - minutes(60), 1, 1, 7, "Jam", kChange - minutes(30), kChange + minutes(30));
    }
    std::ostringstream text;
    writeText(text, {reportOn(file, {})});
    EXPECT_NE(
        text.str().find("Period: 2026-10-25 02:00:00 to 2026-10-25 03:00:00, 2:00:00; times in the line's "
                        "local time, Europe/Berlin"),
        std::string::npos)
        << text.str();
    // A zone this computer does not know, or a name that is no zone, leaves the run's own offset.
    for (const std::string zone : {"Mars/Olympus", "../../etc/passwd", "/etc/localtime"}) {
        {
            HistoryFileWriter out(file);
            out.run(kChange, "Berlin", kChange, kChange + minutes(60), kChange + minutes(60), 60, zone);
        }
        const LineReport unknown = reportOn(file, {});
        EXPECT_FALSE(unknown.zone) << zone;
        EXPECT_EQ(unknown.offsetAt(kChange - minutes(60)), 60) << zone;
    }
}

TEST(LineReport, PicturesShowTheStatusThatHeldLongestInEachColumnAndTheRatePerWindow) {
    testing::ReportFolder folder;
    const std::string file = folder.path("known.db");
    testing::writeKnownHistory(file);
    ReportRequest request;
    request.from = at(0, 0);
    request.to = at(5, 0);
    request.pictures = true;
    request.timelineColumns = 10;  // 30 minutes each
    request.rateColumns = 10;      // three windows each
    const LineReport r = reportOn(file, request);

    EXPECT_EQ(r.timeline.columnWidth, minutes(30));
    ASSERT_EQ(r.timeline.rows.size(), 5u);
    // 00:30-01:00 is 20 running against 10 fault; 03:30-04:00 is half in the gap: no data, also for the
    // foreign machine whose running interval ran on across it; 04:00-04:30 ties fault and maintenance.
    EXPECT_EQ(r.timeline.rows[1].status, (std::vector<std::uint8_t>{1, 1, 2, 1, 0, 0, 1, 0, 4, 1}));
    EXPECT_EQ(r.timeline.rows[2].status, (std::vector<std::uint8_t>{5, 5, 5, 5, 0, 0, 3, 0, 1, 1}));
    // The shares: a gap takes its time from the status that ran on across it.
    EXPECT_FLOAT_EQ(r.timeline.rows[1].share[1][1], 2.0f / 3.0f);
    EXPECT_FLOAT_EQ(r.timeline.rows[1].share[1][4], 1.0f / 3.0f);
    EXPECT_FLOAT_EQ(r.timeline.rows[1].share[1][0], 0.0f);
    EXPECT_FLOAT_EQ(r.timeline.rows[2].share[7][3], 0.5f);
    EXPECT_FLOAT_EQ(r.timeline.rows[2].share[7][0], 0.5f);
    EXPECT_EQ(r.rate[1].start, at(0, 30));
    EXPECT_EQ(r.rate[9].start, at(4, 30));
    std::vector<std::int64_t> peaks;
    for (const RateColumn& c : r.rate) peaks.push_back(c.peak);
    EXPECT_EQ(peaks, (std::vector<std::int64_t>{11, 1, 0, 0, -1, -1, 1, 0, 1, 0}));
}

TEST(LineReport, AGeneratedHourAddsUpAndKeepsTheTenWorstAlarms) {
    testing::ReportFolder folder;
    const std::string file = folder.path("demo.db");
    const GeneratedCounts counts = generateHistory(file, testing::demoHour());
    ReportRequest request;
    request.pictures = true;
    request.timelineColumns = 7;  // a length that does not divide evenly
    const LineReport r = reportOn(file, request);
    EXPECT_EQ(r.to - r.from, 3'600'000);
    EXPECT_EQ(r.slots.size(), 8u);  // the line, five own machines, two foreign ones
    for (const SlotFigures& slot : r.slots) {
        Millis total = 0;
        for (const Millis t : slot.timeIn) total += t;
        EXPECT_EQ(total, r.to - r.from) << slot.name;
        EXPECT_GT(slot.timeIn[0], 0) << slot.name;  // the generated gap
    }
    EXPECT_EQ(r.load.episodes, counts.episodes);
    ASSERT_EQ(r.badActors.size(), kBadActorCount);
    for (std::size_t i = 1; i < r.badActors.size(); ++i)
        EXPECT_GE(r.badActors[i - 1].count, r.badActors[i].count);
    EXPECT_EQ(r.timeline.columnWidth, 514'286);  // 3 600 000 / 7, rounded up
    EXPECT_EQ(r.timeline.rows.front().status.size(), 7u);
}

TEST(LineReport, FilesThatAreNoHistoryAreRefusedWithAMessageNamingThem) {
    testing::ReportFolder folder;
    auto messageFor = [](const std::string& path) -> std::string {
        try {
            reportOn(path, {});
        } catch (const ReportError& error) {
            return error.what();
        }
        return "no error";
    };
    const std::string missing = folder.path("missing.db");
    EXPECT_NE(messageFor(missing).find("No such file"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(missing));  // never created

    const std::string text = folder.path("notes.db");
    std::FILE* f = std::fopen(text.c_str(), "w");
    std::fputs("this is not a database, only some text that is long enough to be a header\n", f);
    std::fclose(f);
    EXPECT_NE(messageFor(text).find("not a database"), std::string::npos) << messageFor(text);

    const std::string other = folder.path("other.db");
    {
        sqlite3* db = nullptr;
        sqlite3_open(other.c_str(), &db);
        sqlite3_exec(db, "CREATE TABLE things (a)", nullptr, nullptr, nullptr);
        sqlite3_close(db);
    }
    EXPECT_NE(messageFor(other).find("not a history file"), std::string::npos) << messageFor(other);

    const std::string newer = folder.path("newer.db");
    testing::writeKnownHistory(newer);
    {
        sqlite3* db = nullptr;
        sqlite3_open(newer.c_str(), &db);
        sqlite3_exec(db, "PRAGMA user_version = 99", nullptr, nullptr, nullptr);
        sqlite3_close(db);
    }
    EXPECT_NE(messageFor(newer).find("version 99"), std::string::npos) << messageFor(newer);

    // A writer holding the file: the report waits a moment, then says so.
    const std::string locked = folder.path("locked.db");
    testing::writeKnownHistory(locked);
    sqlite3* writer = nullptr;
    sqlite3_open(locked.c_str(), &writer);
    sqlite3_exec(writer, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr);
    ReportRequest impatient;
    impatient.busyMillis = 50;
    try {
        reportOn(locked, impatient);
        ADD_FAILURE() << "a locked file was reported";
    } catch (const ReportError& error) {
        EXPECT_NE(std::string(error.what()).find("locked"), std::string::npos) << error.what();
    }
    sqlite3_close(writer);

    // A run whose last sign lies in the year 4000: no window count of that size is attempted.
    const std::string distant = folder.path("distant.db");
    {
        HistoryFileWriter out(distant);
        out.run(1, "L1", testing::at(0, 0), 64'060'588'800'000, std::nullopt);
    }
    EXPECT_NE(messageFor(distant).find("more than 20 years"), std::string::npos) << messageFor(distant);
    ReportRequest day;
    day.from = testing::at(0, 0);
    day.to = testing::at(24, 0);
    EXPECT_EQ(reportOn(distant, day).load.windows, 144);

    // Pages overwritten in the middle of the file: the reads fail, they do not crash.
    const std::string corrupt = folder.path("corrupt.db");
    testing::writeKnownHistory(corrupt);
    {
        std::FILE* g = std::fopen(corrupt.c_str(), "r+b");
        std::fseek(g, 4096, SEEK_SET);
        for (int i = 0; i < 4096 * 3; ++i) std::fputc(0xA5, g);
        std::fclose(g);
    }
    EXPECT_NE(messageFor(corrupt).rfind(corrupt, 0), std::string::npos) << messageFor(corrupt);
}

// The line display has 64 machine slots: a record of any other is damaged, left out and said. However many
// such slot numbers a file holds, the figures and pictures stay those of the line's 64 (a file of
// thousands once took the square of their number in time, and 40 KiB of HTML each).
TEST(LineReport, SlotsOutsideTheLineAreDamagedRecordsLeftOutAndCounted) {
    testing::ReportFolder folder;
    const std::string path = folder.path("slots.db");
    {
        HistoryFileWriter out(path);
        const Millis run = at(0, 0);
        out.run(run, "L1", run, at(2, 0), at(2, 0));
        out.interval(run, history::kLineSlot, "L1", 1, at(0, 0), at(2, 0));
        out.interval(run, 5, "Seen once", 4, at(0, 0), at(0, 1), "Jam");
        out.interval(run, 63, "Last", 1, at(0, 0), at(2, 0));
        for (int i = 0; i < 2000; ++i) out.interval(run, 64 + i, "Ghost", 4, at(0, 1), at(0, 2), "Phantom");
        for (const int slot : {-2, -40000, 70000})
            out.interval(run, slot, "Ghost", 4, at(0, 1), at(0, 2), "Phantom");
        // Slot 5's one record lies before all of these.
        for (int i = 0; i < 3000; ++i)
            out.interval(run, 0, "Filler", 1 + i % 2, at(0, 2) + i, at(0, 2) + i + 1);
    }
    ReportRequest request;
    request.pictures = true;
    const LineReport report = reportOn(path, request);
    std::vector<std::string> slots;
    for (const SlotFigures& slot : report.slots) slots.push_back(slotLabel(slot));
    EXPECT_EQ(slots,
              (std::vector<std::string>{"line L1", "slot 0 Filler", "slot 5 Seen once", "slot 63 Last"}));
    EXPECT_EQ(report.damaged, 2003);
    EXPECT_EQ(report.timeline.rows.size(), 4u);
    ASSERT_EQ(report.pareto.size(), 1u);
    EXPECT_EQ(report.pareto[0].cause.text, "Jam");
    const std::string said =
        "2003 state intervals name a machine slot outside 0..63: the file is damaged there; they are left "
        "out "
        "of every figure.";
    std::ostringstream text;
    writeText(text, {report});
    EXPECT_NE(text.str().find(said), std::string::npos) << text.str();
    std::ostringstream html;
    writeHtml(html, {report});
    EXPECT_NE(html.str().find(said), std::string::npos);
    EXPECT_EQ(html.str().find("Ghost"), std::string::npos);
    EXPECT_LT(html.str().size(), 200'000u);
    std::ostringstream csv;
    writeCsv(csv, {report});
    EXPECT_NE(csv.str().find("damaged,L1," + path + ",2003\r\n"), std::string::npos) << csv.str();
}

// However many alarm numbers a file holds, the report keeps the worst of each list and says how many more.
TEST(LineReport, ListsAtMostAHundredChatteringAndStandingAlarmsAndSaysHowManyMore) {
    testing::ReportFolder folder;
    const std::string path = folder.path("alarms.db");
    {
        HistoryFileWriter out(path);
        const Millis run = at(0, 0);
        out.run(run, "L1", run, at(60, 0), at(60, 0));
        for (int fault = 1; fault <= 150; ++fault)  // 3 to 9 raises 10 s apart, every one chattering
            for (int raise = 0; raise < 3 + fault % 7; ++raise)
                out.episode(run, 1, 1, fault, "F" + std::to_string(fault),
                            at(1, fault, raise * 5) + raise * 5000,
                            at(1, fault, raise * 5) + raise * 5000 + 1000);
        for (int i = 0; i < 130; ++i) out.episode(run, 2, 2, i, "S", at(0, 0), at(25, i));
    }
    const LineReport report = reportOn(path, {});
    ASSERT_EQ(report.chattering.size(), 100u);
    EXPECT_EQ(report.chatteringNotListed, 50);
    EXPECT_EQ(report.chattering[0].alarm.fault, 6);
    EXPECT_EQ(report.chattering[0].count, 9);
    EXPECT_EQ(report.chattering.back().count, 5);
    ASSERT_EQ(report.badActors.size(), 10u);
    EXPECT_EQ(report.badActors[0].alarm.fault, 6);
    EXPECT_EQ(report.badActors[9].alarm.fault, 69);
    ASSERT_EQ(report.standing.size(), 100u);
    EXPECT_EQ(report.standingNotListed, 30);
    EXPECT_EQ(report.standing[0].alarm.fault, 129);
    EXPECT_EQ(report.standing.back().alarm.fault, 30);
    std::ostringstream text;
    writeText(text, {report});
    EXPECT_NE(
        text.str().find("50 more chattering alarms are not listed: the 100 with the most such raises are."),
        std::string::npos);
    EXPECT_NE(text.str().find("30 more standing alarms are not listed: the 100 active longest are."),
              std::string::npos);

    // Beyond the alarms a report tells apart, raises are counted in the load only, and said.
    {
        HistoryFileWriter out(path);
        out.run(at(0, 0), "L1", at(0, 0), at(60, 0), at(60, 0));
        for (int fault = 0; fault < static_cast<int>(kMostAlarms) + 3; ++fault)
            out.episode(at(0, 0), 1, 1, fault, "F", at(1, 0) + fault, at(1, 0) + fault + 1);
    }
    const LineReport many = reportOn(path, {});
    EXPECT_EQ(many.load.episodes, static_cast<std::int64_t>(kMostAlarms) + 3);
    EXPECT_EQ(many.alarmsNotTold, 3);
    EXPECT_EQ(many.badActors.size(), kBadActorCount);
    std::ostringstream said;
    writeText(said, {many});
    EXPECT_NE(said.str().find("3 raises of alarms beyond the 100000 different ones"), std::string::npos);
}

// A finished history in a folder this user may not write is read without locks: should a writer change the
// file meanwhile, its figures would mix two states, so the reading fails instead.
TEST(LineReport, AHistoryReadWithoutLocksThatChangesWhileReadIsRefused) {
    testing::ReportFolder folder;
    const std::string plant = folder.path("plant");
    std::filesystem::create_directories(plant);
    const std::string path = plant + "/History.db";
    testing::writeKnownHistory(path);
    {
        sqlite3* db = nullptr;
        sqlite3_open(path.c_str(), &db);
        sqlite3_exec(db, "PRAGMA journal_mode = WAL", nullptr, nullptr, nullptr);
        sqlite3_close(db);
    }
    // Everybody may write the file, nobody but its owner the folder: no WAL index can be made beside it.
    std::filesystem::permissions(path, std::filesystem::perms::all);
    std::filesystem::permissions(
        plant, std::filesystem::perms::owner_all | std::filesystem::perms::group_read |
                   std::filesystem::perms::group_exec | std::filesystem::perms::others_read |
                   std::filesystem::perms::others_exec);
    const int result = testing::withoutPrivileges([&] {
        if (access(plant.c_str(), W_OK) == 0) return 10;  // a user who may write the folder: no case
        SqliteFile file(path, 0);
        file.requireHistory();
        file.requireUnchanged();
        std::ofstream(path, std::ios::binary | std::ios::app) << '\0';
        try {
            file.requireUnchanged();
            return 2;
        } catch (const ReportError& error) {
            return std::string(error.what()) == path + ": written to while it was read; report again" ? 0 : 3;
        }
    });
    if (result == 10) GTEST_SKIP() << "this user may write every folder";
    EXPECT_EQ(result, 0);
}

}  // namespace
}  // namespace orvanta::report
