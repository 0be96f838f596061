// The line records the line-display bridge keeps for the main form: what it fetched from the line
// display, what it last sent to the runtime, and the flags that tell the visualisation what is new. The
// cyclic pass reads the machine records too. Everything starts zeroed: numbers 0, strings empty, flags
// false (16-bit Booleans are -1 true, 0 false).
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "ports/line_display.h"

namespace orvanta {

// Screen-jump switches, from the watched variables.
struct JumpFlags {
    std::int16_t SprungAlarme = 0;     // bit 0 of "Ch-1.int_linie<.li_b_sprung>"
    std::int16_t SprungWarnungen = 0;  // bit 1 of "Ch-1.int_linie<.li_b_sprung>"
    std::int16_t KeinSprungAktiv = 0;  // last value of "Ch1.T_zyk_linie<.li_bildsprung>"
};

// Indexed by display slot 1..6; index 0 is unused.
template <typename T>
using PerSlot = std::array<T, kLineSlotCount + 1>;

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
    PerSlot<std::int16_t> slots{};  // negative = none
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
// What was last sent of a slot. Its status needs no copy: the slot's status array is rewritten only
// where the status changed.
struct SentGroupRecord {
    std::int16_t number = 0;
    std::string name;
};

struct ChangeFlags {
    std::int16_t groupsChanged = 0;
    std::int16_t parametersChanged = 0;
    std::int16_t fontChanged = 0;
    std::int16_t valuesChanged = 0;
};

// The values of a foreign machine, as the value preparation fetched and derived them.
struct MachineValueRecord {
    std::int16_t rawStatus = 0;  // last answer of MachineStatus
    std::int16_t priority = 0;   // StatusPriority of it
    std::string message;
    std::string fontName;
    std::int16_t charset = 0;
};
using MachineValueRecords = std::array<MachineValueRecord, kLineMachineCount>;

// The display language's font, as last chosen and as last written.
struct DisplayFont {
    std::int32_t languageId = 0;
    std::int16_t charSet = 0;
    std::string fontName;
    std::int16_t sentCharSet = 0;
    std::string sentFontName;
};

struct LineRecords {
    MachineRecords machines;      // MachineRecord
    MachineRecords sentMachines;  // what was last sent to the runtime
    PerSlot<GroupRecord> groups;
    PerSlot<SentGroupRecord> sentGroups;
    ChangeFlags changes;
    std::int16_t LineConnected = 0;  // argument of the last Connect event, as received
    MachineValueRecords values;      // MachineValues
    MachineValueRecords sentValues;
    std::int16_t lineStatus = 0;  // of the last pass; a change raises the groups' new-data flag
    DisplayFont font;
};

}  // namespace orvanta
