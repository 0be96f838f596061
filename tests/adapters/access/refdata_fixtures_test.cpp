// The reference data read from real Access files, written by an independent writer, through the bounded
// libmdb reader: what a plant's own databases give.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "adapters/access/mdb_database.h"
#include "refdata/alarm_definitions.h"
#include "refdata/languages.h"
#include "support/log_capture.h"

namespace orvanta {
namespace {

namespace fs = std::filesystem;
using testing::LogCapture;

const fs::path kData = fs::path(ORVANTA_SOURCE_DIR) / "tests" / "data";

// A plant folder holding the given files as its project and language databases.
class Plant {
public:
    Plant(const std::string& alarmdefs, const std::string& languages) {
        static int counter = 0;
        base_ = fs::temp_directory_path() /
                ("orvanta-refdata-" + std::to_string(getpid()) + "-" + std::to_string(counter++));
        fs::create_directories(base_ / "Program" / "Tools");
        if (!alarmdefs.empty()) fs::copy_file(kData / alarmdefs, base_ / "Program" / "Pelmar.vws");
        if (!languages.empty())
            fs::copy_file(kData / languages, base_ / "Program" / "Tools" / "Languages.mdb");
    }
    ~Plant() { fs::remove_all(base_); }
    std::string base() const { return base_.string(); }

private:
    fs::path base_;
};

std::vector<int> idents(const AlarmTable& table, int machine) {
    std::vector<int> result;
    for (int i = 1; i <= table.count(machine); ++i) result.push_back(table.at(machine, i).Ident);
    return result;
}

std::vector<int> statuses(const AlarmTable& table, int machine) {
    std::vector<int> result;
    for (int i = 1; i <= table.count(machine); ++i) result.push_back(table.at(machine, i).AnzeigeStatus);
    return result;
}

class RefdataFixtures : public ::testing::Test {
protected:
    MdbDatabaseEngine engine{ORVANTA_MDB_READER};
    LogCapture capture;
};

TEST_F(RefdataFixtures, EveryEdgeRowLandsWhereItsCommentSays) {
    Plant plant("alarmdefs-edge.vws", "");
    AlarmDefinitions tables;
    AlarmDefsEinlesen(tables, engine, capture.log, plant.base(), 5);

    // Machine 1: sorted by VarName, "" first, rows of one name in load order.
    EXPECT_EQ(idents(tables.AlarmTabelle1, 1),
              (std::vector<int>{25, 12, 14, 11, 24, 26, 27, 28, 29, 33, 34, 35, 13}));
    EXPECT_EQ(idents(tables.AlarmTabelle1, 2), (std::vector<int>{16, 15, 17, 18})) << "B B together, b after";
    EXPECT_EQ(idents(tables.AlarmTabelle1, 3), std::vector<int>{});
    EXPECT_EQ(idents(tables.AlarmTabelle1, 4), (std::vector<int>{20, 21, 19}));
    EXPECT_EQ(idents(tables.AlarmTabelle1, 5), (std::vector<int>{23, 22}));
    EXPECT_EQ(statuses(tables.AlarmTabelle1, 5), (std::vector<int>{4, 4}));

    EXPECT_EQ(idents(tables.AlarmTabelle2, 2), (std::vector<int>{30, 31}));
    EXPECT_EQ(statuses(tables.AlarmTabelle2, 2), (std::vector<int>{2, 2})) << "row 31 takes row 30's flags";
    EXPECT_EQ(idents(tables.AlarmTabelle2, 3), (std::vector<int>{3, 4, 5, 9}));
    EXPECT_EQ(statuses(tables.AlarmTabelle2, 3), (std::vector<int>{2, 6, 3, 6}));
    EXPECT_EQ(idents(tables.AlarmTabelle3, 2), (std::vector<int>{30, 31}));
    EXPECT_EQ(idents(tables.AlarmTabelle3, 3), (std::vector<int>{3, 8, 9}));
    EXPECT_EQ(statuses(tables.AlarmTabelle3, 3), (std::vector<int>{0, 0, 0}));
    for (int machine : {1, 4, 5}) {
        EXPECT_EQ(tables.AlarmTabelle2.count(machine), 0);
        EXPECT_EQ(tables.AlarmTabelle3.count(machine), 0);
    }

    const AlarmDef& priorityNull = tables.AlarmTabelle1.at(1, 5);
    EXPECT_EQ(priorityNull.Ident, 24);
    EXPECT_EQ(priorityNull.Priority, 0);
    EXPECT_EQ(priorityNull.VarName, "Ch1.N<.n>");
    EXPECT_EQ(tables.AlarmTabelle1.at(1, 1).VarName, "") << "VarName Null";
    EXPECT_EQ(tables.AlarmTabelle1.at(1, 6).Priority, 0) << "Priority 70000";
    EXPECT_EQ(tables.AlarmTabelle1.at(1, 7).Fault, 0) << "Fault -40000";
    EXPECT_EQ(tables.AlarmTabelle1.at(1, 8).AlarmText, "") << "AlarmText Null";
    EXPECT_EQ(tables.AlarmTabelle1.at(1, 9).Sensor2, 0) << "Sensor2 Null, stored under the previous machine";
    EXPECT_EQ(tables.AlarmTabelle1.at(1, 10).BitNo, 20) << "stored as read";
    EXPECT_EQ(tables.AlarmTabelle1.at(1, 11).BitNo, -1);
    EXPECT_EQ(tables.AlarmTabelle1.at(1, 12).Priority, -5);
    EXPECT_EQ(tables.AlarmTabelle2.at(2, 2).Sensor1, 0) << "Sensor1 Null";
    const AlarmDef& full = tables.AlarmTabelle2.at(3, 1);
    EXPECT_EQ(full.Type, 8);
    EXPECT_EQ(full.VarName, "Ch1.E<.b>");
    EXPECT_EQ(full.BitNo, 2);
    EXPECT_EQ(full.Priority, 20);
    EXPECT_EQ(full.AlarmText, "E03");
    EXPECT_EQ(full.Fault, 3);
    EXPECT_EQ(full.Sensor1, 6);
    EXPECT_EQ(full.Sensor2, 3);
    EXPECT_TRUE(capture.linesStartingWith("F ").empty());
}

TEST_F(RefdataFixtures, MachinesAboveTheConfiguredNumberKeepTheirLoadOrder) {
    Plant plant("alarmdefs-edge.vws", "");
    AlarmDefinitions tables;
    AlarmDefsEinlesen(tables, engine, capture.log, plant.base(), 2);
    EXPECT_EQ(idents(tables.AlarmTabelle1, 2), (std::vector<int>{16, 15, 17, 18}));
    EXPECT_EQ(idents(tables.AlarmTabelle1, 4), (std::vector<int>{19, 20, 21}));
    EXPECT_EQ(idents(tables.AlarmTabelle1, 5), (std::vector<int>{22, 23}));
}

TEST_F(RefdataFixtures, TheCapacityFileKeeps1000RowsAndReportsTheRest) {
    Plant plant("alarmdefs-capacity.vws", "");
    AlarmDefinitions tables;
    AlarmDefsEinlesen(tables, engine, capture.log, plant.base(), 5);
    int total = 0;
    for (int machine = 1; machine <= kAlarmMachines; ++machine) {
        total += tables.AlarmTabelle1.count(machine) + tables.AlarmTabelle2.count(machine) +
                 tables.AlarmTabelle3.count(machine);
    }
    EXPECT_EQ(total, 1010);
    const auto dropped = capture.linesStartingWith("S 14:03:07 07.12.2026 AlarmDefsEinlesen AlarmTabelle");
    ASSERT_EQ(dropped.size(), 1u);
    EXPECT_NE(dropped[0].find(": 5 rows beyond the capacity of 1000 dropped"), std::string::npos)
        << dropped[0];
}

TEST_F(RefdataFixtures, TheFullPlantFillsEveryTableOfEveryMachine) {
    Plant plant("alarmdefs-full.vws", "");
    AlarmDefinitions tables;
    AlarmDefsEinlesen(tables, engine, capture.log, plant.base(), 5);
    for (int machine = 1; machine <= kAlarmMachines; ++machine) {
        EXPECT_EQ(tables.AlarmTabelle1.count(machine), kAlarmCapacity);
        EXPECT_EQ(tables.AlarmTabelle2.count(machine), kAlarmCapacity);
        EXPECT_EQ(tables.AlarmTabelle3.count(machine), kAlarmCapacity);
        for (int i = 2; i <= kAlarmCapacity; ++i)
            ASSERT_LE(tables.AlarmTabelle1.at(machine, i - 1).VarName,
                      tables.AlarmTabelle1.at(machine, i).VarName);
    }
}

TEST_F(RefdataFixtures, EdgeLanguagesTakeTheirFontsFromTheirFirstClassColumn) {
    Plant plant("", "languages-edge.mdb");
    LanguageTable table;
    LanguageEinlesen(table, engine, capture.log, plant.base());
    ASSERT_EQ(table.LanguageCount, 9);
    struct Expected {
        int language;
        const char* name;
        int codePage;
        int kbLayout;
        int charSet;
        const char* font;
    };
    const Expected expected[] = {
        {1031, "Deutsch", 1252, 1031, 238, "Tahoma"},
        {1033, "English", 1252, 1033, 0, "Arial"},
        {1036, "Français", 1252, 0, 0, kDefaultFontName},     // "1252 (Western)", "0000040C", no class
        {1040, "Italiano", 1252, 1040, 0, kDefaultFontName},  // its first class names font 77
        {1049, "Русский", 1251, 1049, 0, kDefaultFontName},
        {1045, "Polski", 0, 0, 0, kDefaultFontName},  // Null cells; font 2 is no display font
        {2052, "中文", 936, 2052, 134, ""},           // the font's name is Null
        {1041, "日本語", 932, 1041, 0, "MS Gothic"},  // the font's CharSet is Null
        {0, "Null language", 1252, 0, 0, "Arial"},    // column LX reads as language 0
    };
    for (int i = 1; i <= 9; ++i) {
        const Expected& want = expected[i - 1];
        const LanguageRecord& got = table.at(i);
        EXPECT_EQ(got.Language, want.language) << i;
        EXPECT_EQ(got.Name, want.name) << i;
        EXPECT_EQ(got.CodePage, want.codePage) << i;
        EXPECT_EQ(got.KBLayout, want.kbLayout) << i;
        EXPECT_EQ(got.CharSet, want.charSet) << i;
        EXPECT_EQ(got.FontName, want.font) << i;
    }
    std::int32_t language = 1040;
    EXPECT_EQ(SucheFont(table, language, "Test", capture.log), 4);
}

TEST_F(RefdataFixtures, CodePageAndKeyboardLayoutVariants) {
    Plant numeric("", "languages-numeric-codepage.mdb");
    LanguageTable numericTable;
    LanguageEinlesen(numericTable, engine, capture.log, numeric.base());
    ASSERT_EQ(numericTable.LanguageCount, 9);
    EXPECT_EQ(numericTable.at(1).CodePage, 1252);
    EXPECT_EQ(numericTable.at(5).CharSet, 238);
    EXPECT_EQ(numericTable.at(9).FontName, "Arial");
    EXPECT_EQ(numericTable.at(9).CharSet, 161);

    Plant text("", "languages-text-kblayout.mdb");
    LanguageTable textTable;
    LanguageEinlesen(textTable, engine, capture.log, text.base());
    ASSERT_EQ(textTable.LanguageCount, 9);
    EXPECT_EQ(textTable.at(1).KBLayout, 407);
    EXPECT_EQ(textTable.at(3).KBLayout, 0) << "0000040C";
    EXPECT_EQ(textTable.at(3).CodePage, 1252);
    EXPECT_EQ(textTable.at(7).KBLayout, 804);

    Plant three("", "languages-three.mdb");
    LanguageTable threeTable;
    LanguageEinlesen(threeTable, engine, capture.log, three.base());
    ASSERT_EQ(threeTable.LanguageCount, 3);
    EXPECT_EQ(threeTable.at(1).FontName, "Arial");
    EXPECT_EQ(threeTable.at(2).FontName, kDefaultFontName);
    std::int32_t language = 1036;
    EXPECT_EQ(SucheFont(threeTable, language, "Test", capture.log), 0);
    EXPECT_EQ(language, 1036);
    EXPECT_TRUE(capture.linesStartingWith("F ").empty());
}

TEST_F(RefdataFixtures, AFileWithoutTablesLeavesEmptyTablesAndSaysWhy) {
    fs::path base;
    {
        Plant plant("no-tables.mdb", "no-tables.mdb");
        AlarmDefinitions alarms;
        AlarmDefsEinlesen(alarms, engine, capture.log, plant.base(), 5);
        LanguageTable languages;
        LanguageEinlesen(languages, engine, capture.log, plant.base());
        EXPECT_EQ(alarms.AlarmTabelle1.count(1), 0);
        EXPECT_EQ(languages.LanguageCount, 0);
    }
    const auto faults = capture.linesStartingWith("F ");
    ASSERT_EQ(faults.size(), 4u);
    for (const char* table : {"Alarmdefs", "TidxFonts", "TidxFontClasses", "LookupLanguages"}) {
        bool named = false;
        for (const std::string& line : faults)
            named = named || line.find(std::string("'") + table + "'") != std::string::npos;
        EXPECT_TRUE(named) << table;
    }
    EXPECT_NE(faults[0].find("Fault 3078;"), std::string::npos) << faults[0];
    EXPECT_NE(faults[0].find("Pelmar.vws"), std::string::npos) << faults[0];
}

TEST_F(RefdataFixtures, TheDemoPlantLoadsItsAlarmsAndNineLanguages) {
    Plant plant("demo/Pelmar.vws", "demo/Languages.mdb");
    AlarmDefinitions alarms;
    AlarmDefsEinlesen(alarms, engine, capture.log, plant.base(), 5);
    int table1 = 0;
    for (int machine = 1; machine <= kAlarmMachines; ++machine) table1 += alarms.AlarmTabelle1.count(machine);
    EXPECT_EQ(table1, 60);
    LanguageTable languages;
    LanguageEinlesen(languages, engine, capture.log, plant.base());
    EXPECT_EQ(languages.LanguageCount, 9);
    std::int32_t language = 1049;
    const std::int16_t russian = SucheFont(languages, language, "Test", capture.log);
    EXPECT_EQ(languages.at(russian).CharSet, 204);
}

}  // namespace
}  // namespace orvanta
