// The alarm definitions of the visualisation project, sorted into three tables per machine:
//   AlarmTabelle1  faults ("Type" 2), shown with status 4 and candidates for the line alarm;
//   AlarmTabelle2  warnings and messages ("Type" 8 or 18 with one of the Sensor1 bits 2, 4, 8),
//                  shown with status 2, 6 or 3;
//   AlarmTabelle3  every "Type" 8 row, the line alarm when no fault is active.
// The cyclic pass scans them every second, so each machine's entries of tables 1 and 2 are ordered by
// VarName: entries of one variable then stand together and the variable is read once per run.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "ports/database.h"
#include "service/program_log.h"

namespace orvanta {

struct AlarmDef {
    std::int16_t Type = 0;
    std::string VarName;
    std::int16_t BitNo = 0;
    std::int16_t Priority = 0;
    std::string AlarmText;
    std::int16_t AnzeigeStatus = 0;  // display status code
    std::int16_t Fault = 0;
    std::int16_t Sensor1 = 0;
    std::int16_t Sensor2 = 0;  // the machine 1..5
    std::int16_t Ident = 0;
};

inline constexpr int kAlarmMachines = 5;
inline constexpr int kAlarmCapacity = 1000;

// One table: for machine 1..5 the positions 0..1000; position 0 is the empty entry, a machine's entries
// lie at 1..count. Every index is checked: outside its range is error 9.
class AlarmTable {
public:
    AlarmTable();

    const AlarmDef& at(int machine, int position) const;
    AlarmDef& at(int machine, int position);
    std::int16_t count(int machine) const;  // AlarmAnzahl

    // The next free position of machine, counted; 0 when the machine's entries are at capacity.
    int append(int machine);
    // Orders positions 1..count by VarName (character codes, ascending), equal names in load order.
    void sortByVarName(int machine);

private:
    static constexpr int kPositions = kAlarmCapacity + 1;  // 0..kAlarmCapacity
    static void checkMachine(int machine);
    std::vector<AlarmDef> entries_;  // (machine - 1) * kPositions + position
    std::array<std::int16_t, kAlarmMachines> counts_{};
};

struct AlarmDefinitions {
    AlarmTable AlarmTabelle1;
    AlarmTable AlarmTabelle2;
    AlarmTable AlarmTabelle3;
};

// Reads "Alarmdefs" of BasisVerzeichnis/Program/Pelmar.vws into tables, appending to what they hold.
// Never throws: a cell that cannot be converted leaves its field empty, a database or table that cannot
// be opened leaves the tables as they are, with a fault line naming the file and the reason.
void AlarmDefsEinlesen(AlarmDefinitions& tables, DatabaseEngine& engine, ProgramLog& log,
                       const std::string& BasisVerzeichnis, std::int16_t AnzahlMaschinen);

}  // namespace orvanta
