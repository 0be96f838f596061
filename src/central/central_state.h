// The main form's shared state: what one handler sets and another reads. It is owned in one place (the
// main form) and grouped by owner, so a reader sees who fills which record. Everything starts zeroed:
// numbers 0, strings empty, Booleans false (16-bit Booleans are -1 true, 0 false).
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "linebridge/line_records.h"
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

struct CentralState {
    std::int16_t VisuTextFehler = 0;  // the text database failed and is not used again
    LogSettings log;
    PlantSettings plant;
    std::string Sprache;  // decimal language identifier; empty until the first language change
    JumpFlags jumps;
    LineRecords line;
};

}  // namespace orvanta
