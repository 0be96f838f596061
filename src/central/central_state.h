// The main form's shared state: what one handler sets and another reads. It is owned in one place (the
// main form) and grouped by owner, so a reader sees who fills which record. Everything starts zeroed:
// numbers 0, strings empty, Booleans false (16-bit Booleans are -1 true, 0 false).
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "components/line_display.h"
#include "service/log_settings.h"

namespace orvanta {

// Settings of the plant and of the program's own folders, read by the initialisation.
struct PlantSettings {
    std::string BasisVerzeichnis;      // base folder
    std::string ProgrammIni;           // BasisVerzeichnis & "/Parameter/Program.ini"
    std::int16_t MitVWStudio = 0;      // INI "VWStudio"
    std::int16_t AnzahlMaschinen = 0;  // INI "NumberOfMachines", 1..5 once initialised
    std::int32_t FensterHandle = 0;    // companion window found at initialisation, else 0
    std::string FensterTitel;          // its title
};

// Screen-jump switches, from the watched variables.
struct JumpFlags {
    std::int16_t SprungAlarme = 0;     // bit 0 of "Ch-1.int_linie<.li_b_sprung>"
    std::int16_t SprungWarnungen = 0;  // bit 1 of "Ch-1.int_linie<.li_b_sprung>"
    std::int16_t KeinSprungAktiv = 0;  // last value of "Ch1.T_zyk_linie<.li_bildsprung>"
};

// One machine slot of the line display, as the parameter preparation fetched it.
struct MachineRecord {
    std::string name;
    std::string coName;
    std::int16_t number = 0;  // own machine 1..5 this slot stands for
    std::int16_t remote = 0;
    std::int16_t symbol = 0;
    std::int16_t textFlag = 0;  // status from the status variable instead of the alarm tables
    std::int16_t enabled = 0;
    std::int16_t group = 0;  // -1 when not enabled
    std::int16_t foreign = 0;
    std::array<std::int16_t, kLineSlotCount + 1> slots{};  // index 1..6; negative = none
    std::int16_t inDisplay = 0;
};
using MachineRecords = std::array<MachineRecord, kLineMachineCount>;

// One of the six display slots (index 1..6; index 0 unused).
struct GroupRecord {
    std::int16_t number = 0;
    std::string name;
    std::int16_t valid = 0;
    std::int16_t status = 0;
    std::int16_t priority = 0;
};
struct SentGroupRecord {
    std::int16_t number = 0;
    std::string name;
    std::int16_t status = 0;
};

struct ChangeFlags {
    std::int16_t groupsChanged = 0;
    std::int16_t parametersChanged = 0;
    std::int16_t fontChanged = 0;
    std::int16_t valuesChanged = 0;
};

struct LineRecords {
    MachineRecords machines;      // MachineRecord
    MachineRecords sentMachines;  // what was last sent to the runtime
    std::array<GroupRecord, kLineSlotCount + 1> groups;
    std::array<SentGroupRecord, kLineSlotCount + 1> sentGroups;
    ChangeFlags changes;
    std::int16_t LineConnected = 0;  // argument of the last Connect event, as received
};

struct CentralState {
    std::int16_t VisuTextFehler = 0;  // the text database failed and is not used again
    LogSettings log;
    PlantSettings plant;
    std::string Sprache;  // decimal language identifier; empty until the first language change
    JumpFlags jumps;
    LineRecords line;
};

}  // namespace orvanta
