#include "refdata/alarm_definitions.h"

#include <gtest/gtest.h>

#include "support/in_memory_database.h"
#include "support/log_capture.h"

namespace orvanta {
namespace {

using testing::InMemoryDatabaseEngine;
using testing::LogCapture;

const std::string kBase = "/plant";
const std::string kFile = "/plant/Program/Pelmar.vws";

Variant n(int value) { return Variant::longInt(value); }
Variant t(const char* text) { return Variant::text(text); }
const Variant kNull = Variant::null();

// Rows of Ident, Type, VarName, BitNo, Priority, AlarmText, Fault, Sensor1, Sensor2.
Table alarmdefs(std::vector<std::vector<Variant>> rows) {
    return {"Alarmdefs",
            {"Ident", "Type", "VarName", "BitNo", "Priority", "AlarmText", "Fault", "Sensor1", "Sensor2"},
            std::move(rows)};
}

std::vector<std::string> varNames(const AlarmTable& table, int machine) {
    std::vector<std::string> names;
    for (int i = 1; i <= table.count(machine); ++i) names.push_back(table.at(machine, i).VarName);
    return names;
}

// Every entry of a table, machine by machine, with every field.
std::vector<std::string> contents(const AlarmTable& table) {
    std::vector<std::string> lines;
    for (int machine = 1; machine <= kAlarmMachines; ++machine) {
        for (int i = 1; i <= table.count(machine); ++i) {
            const AlarmDef& d = table.at(machine, i);
            std::string line = std::to_string(machine) + ":";
            for (const std::string& field :
                 {std::to_string(d.Ident), std::to_string(d.Type), d.VarName, std::to_string(d.BitNo),
                  std::to_string(d.Priority), d.AlarmText, std::to_string(d.AnzeigeStatus),
                  std::to_string(d.Fault), std::to_string(d.Sensor1), std::to_string(d.Sensor2)})
                line += " " + field;
            lines.push_back(line);
        }
    }
    return lines;
}

class AlarmDefsTest : public ::testing::Test {
protected:
    void load(std::vector<std::vector<Variant>> rows, std::int16_t machines = 5) {
        engine.add(kFile, alarmdefs(std::move(rows)));
        AlarmDefsEinlesen(tables, engine, capture.log, kBase, machines);
    }
    InMemoryDatabaseEngine engine;
    LogCapture capture;
    AlarmDefinitions tables;
};

TEST_F(AlarmDefsTest, StoresEveryColumnOfEachRowInTheTablesItsTypeAndFlagsChoose) {
    load({{n(12), n(2), t("Ch1.M<.f>"), n(6), n(45), t("M1_F12"), n(112), n(0), n(1)},
          {n(57), n(8), t("W"), n(2), n(34), t("M3_W03"), n(353), n(4), n(3)},  // flag 4: status 3
          {n(58), n(8), t("X"), n(1), n(1), t("A"), n(1), n(3), n(3)},          // flag 2 decides: 2
          {n(59), n(18), t("V"), n(1), n(1), t("B"), n(2), n(9), n(3)},         // flag 8: 6, no table 3
          {n(60), n(18), t("Z"), n(1), n(1), t("C"), n(3), n(1), n(3)},         // no flag: nowhere
          {n(61), n(8), t("U"), n(0), n(1), t("D"), n(4), n(16), n(3)},         // no flag: table 3 only
          {n(62), n(8), t("T"), n(0), n(1), t("E"), n(5), n(13), n(2)},         // flags 4 and 8: 6
          {n(63), n(2), t("S"), n(0), n(1), t("F"), n(6), n(0), n(6)},          // no machine 6
          {n(64), n(2), t("R"), n(0), n(1), t("G"), n(7), n(0), n(0)},          // nor 0
          {n(65), n(9), t("Q"), n(0), n(1), t("H"), n(8), n(2), n(1)}});        // no such type
    // Ident Type VarName BitNo Priority AlarmText AnzeigeStatus Fault Sensor1 Sensor2, by machine.
    EXPECT_EQ(contents(tables.AlarmTabelle1), (std::vector<std::string>{
                                                  "1: 12 2 Ch1.M<.f> 6 45 M1_F12 4 112 0 1",
                                              }));
    EXPECT_EQ(contents(tables.AlarmTabelle2), (std::vector<std::string>{
                                                  "2: 62 8 T 0 1 E 6 5 13 2",
                                                  "3: 59 18 V 1 1 B 6 2 9 3",
                                                  "3: 57 8 W 2 34 M3_W03 3 353 4 3",
                                                  "3: 58 8 X 1 1 A 2 1 3 3",
                                              }));
    EXPECT_EQ(contents(tables.AlarmTabelle3), (std::vector<std::string>{
                                                  "2: 62 8 T 0 1 E 0 5 13 2",
                                                  "3: 57 8 W 2 34 M3_W03 0 353 4 3",
                                                  "3: 58 8 X 1 1 A 0 1 3 3",
                                                  "3: 61 8 U 0 1 D 0 4 16 3",
                                              }));
    EXPECT_EQ(tables.AlarmTabelle1.at(1, 0).VarName, "") << "position 0 stays the empty entry";
    EXPECT_EQ(capture.lines(), (std::vector<std::string>{"S 14:03:07 07.12.2026 AlarmDefsEinlesen An ",
                                                         "S 14:03:07 07.12.2026 AlarmDefsEinlesen En "}));
    EXPECT_EQ(engine.closed, 1);
}

TEST_F(AlarmDefsTest, UnreadableCellsLeaveTheirFieldEmptyAndFallBackToThePreviousRow) {
    load({{n(0), n(2), t("V"), n(0), n(1), t("A"), n(1), n(0), kNull},          // no machine before row 1
          {n(1), n(2), t("V"), n(0), n(70000), t("A"), n(-40000), n(0), n(2)},  // Priority, Fault too big
          {n(2), n(2), kNull, n(1), kNull, kNull, n(5), n(0), kNull},           // Sensor2 Null: machine 2
          {n(3), n(8), t("W"), n(0), n(5), t("B"), n(6), n(6), n(4)},
          {n(4), n(8), t("W"), n(1), n(5), t("C"), n(7), kNull, n(4)},       // Sensor1 Null: flags 6
          {n(5), kNull, t("X"), n(0), n(5), t("D"), n(8), n(0), n(1)},       // Type Null: skipped
          {n(6), t("2"), t("Y"), n(0), n(5), t("E"), n(9), t("x"), n(3)}});  // numeric text is a number
    ASSERT_EQ(tables.AlarmTabelle1.count(2), 2);
    const AlarmDef& nulls = tables.AlarmTabelle1.at(2, 1);  // its empty VarName orders first
    EXPECT_EQ(nulls.Ident, 2);
    EXPECT_EQ(nulls.VarName, "");
    EXPECT_EQ(nulls.AlarmText, "");
    EXPECT_EQ(nulls.Priority, 0);
    EXPECT_EQ(nulls.Sensor2, 0);
    EXPECT_EQ(nulls.Fault, 5);
    const AlarmDef& tooBig = tables.AlarmTabelle1.at(2, 2);
    EXPECT_EQ(tooBig.Ident, 1);
    EXPECT_EQ(tooBig.Priority, 0);
    EXPECT_EQ(tooBig.Fault, 0);
    ASSERT_EQ(tables.AlarmTabelle2.count(4), 2);
    EXPECT_EQ(tables.AlarmTabelle2.at(4, 2).AnzeigeStatus, 2) << "flags 6 of the previous row";
    EXPECT_EQ(tables.AlarmTabelle3.count(4), 2);
    EXPECT_EQ(tables.AlarmTabelle1.count(1), 0);
    EXPECT_EQ(tables.AlarmTabelle1.count(3), 1);
    EXPECT_TRUE(capture.linesStartingWith("F ").empty()) << "the readers clear their faults silently";
}

TEST_F(AlarmDefsTest, OrdersTablesOneAndTwoByVarNameForTheConfiguredMachinesOnly) {
    load({{n(1), n(2), t("C"), n(0), n(1), t(""), n(1), n(0), n(1)},
          {n(2), n(2), t("A"), n(0), n(1), t(""), n(2), n(0), n(1)},
          {n(3), n(2), t("b"), n(0), n(1), t(""), n(3), n(0), n(1)},
          {n(4), n(2), t("B"), n(0), n(1), t("first"), n(4), n(0), n(1)},
          {n(5), n(2), t("B"), n(0), n(1), t("second"), n(5), n(0), n(1)},
          {n(6), n(2), t("D"), n(0), n(1), t(""), n(6), n(0), n(3)},
          {n(7), n(2), t("B"), n(0), n(1), t(""), n(7), n(0), n(3)},
          {n(8), n(8), t("Z"), n(0), n(1), t(""), n(8), n(2), n(1)},
          {n(9), n(8), t("Y"), n(0), n(1), t(""), n(9), n(2), n(1)}},
         2);
    EXPECT_EQ(varNames(tables.AlarmTabelle1, 1), (std::vector<std::string>{"A", "B", "B", "C", "b"}));
    EXPECT_EQ(tables.AlarmTabelle1.at(1, 2).AlarmText, "first");
    EXPECT_EQ(varNames(tables.AlarmTabelle1, 3), (std::vector<std::string>{"D", "B"})) << "machine 3 > 2";
    EXPECT_EQ(varNames(tables.AlarmTabelle2, 1), (std::vector<std::string>{"Y", "Z"}));
    EXPECT_EQ(varNames(tables.AlarmTabelle3, 1), (std::vector<std::string>{"Z", "Y"})) << "never ordered";
}

TEST_F(AlarmDefsTest, RowsBeyondTheCapacityAreDroppedAndCounted) {
    std::vector<std::vector<Variant>> rows;
    for (int i = 0; i < kAlarmCapacity + 3; ++i) {
        rows.push_back({n(i), n(8), t("V"), n(0), n(1), t(""), n(i), n(2), n(5)});
        if (i <= kAlarmCapacity) rows.push_back({n(i), n(2), t("V"), n(0), n(1), t(""), n(i), n(0), n(4)});
    }
    load(std::move(rows));
    EXPECT_EQ(tables.AlarmTabelle1.count(4), kAlarmCapacity);
    EXPECT_EQ(tables.AlarmTabelle2.count(5), kAlarmCapacity);
    EXPECT_EQ(tables.AlarmTabelle3.count(5), kAlarmCapacity);
    EXPECT_EQ(tables.AlarmTabelle2.at(5, kAlarmCapacity).Fault, kAlarmCapacity - 1);
    EXPECT_EQ(
        capture.lines(),
        (std::vector<std::string>{
            "S 14:03:07 07.12.2026 AlarmDefsEinlesen An ",
            "S 14:03:07 07.12.2026 AlarmDefsEinlesen AlarmTabelle1 machine 4: 1 rows beyond the capacity "
            "of 1000 dropped",
            "S 14:03:07 07.12.2026 AlarmDefsEinlesen AlarmTabelle2 machine 5: 3 rows beyond the capacity "
            "of 1000 dropped",
            "S 14:03:07 07.12.2026 AlarmDefsEinlesen AlarmTabelle3 machine 5: 3 rows beyond the capacity "
            "of 1000 dropped",
            "S 14:03:07 07.12.2026 AlarmDefsEinlesen En "}));
}

TEST_F(AlarmDefsTest, AMissingDatabaseOrTableLeavesEmptyTablesAndAFaultLineNamingIt) {
    AlarmDefsEinlesen(tables, engine, capture.log, kBase, 5);
    engine.add(kFile, Table{"Texts", {"TextKey"}, {}});
    AlarmDefsEinlesen(tables, engine, capture.log, kBase, 5);
    for (int machine = 1; machine <= 5; ++machine) EXPECT_EQ(tables.AlarmTabelle1.count(machine), 0);
    const auto faults = capture.linesStartingWith("F ");
    ASSERT_EQ(faults.size(), 2u);
    EXPECT_EQ(faults[0],
              "F 14:03:07 07.12.2026 Fault 3024; Could not find file '/plant/Program/Pelmar.vws'; "
              "Database; AlarmDefsEinlesen");
    EXPECT_NE(faults[1].find("Fault 3078; Cannot find the input table 'Alarmdefs'"), std::string::npos)
        << faults[1];
    EXPECT_EQ(capture.lines().back(), "S 14:03:07 07.12.2026 AlarmDefsEinlesen En ");
}

TEST(AlarmTable, IndexesAreChecked) {
    AlarmTable table;
    EXPECT_THROW(table.at(0, 1), VbError);
    EXPECT_THROW(table.at(6, 1), VbError);
    EXPECT_THROW(table.at(1, 1001), VbError);
    EXPECT_THROW(table.at(1, -1), VbError);
    EXPECT_THROW(table.count(7), VbError);
    EXPECT_THROW(table.append(0), VbError);
    EXPECT_THROW(table.append(6), VbError);
    EXPECT_NO_THROW(table.at(5, 1000));
}

}  // namespace
}  // namespace orvanta
