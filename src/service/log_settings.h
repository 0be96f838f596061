// The log settings of the main form: read once by its initialisation, read by the log writer on every
// line, so a change takes effect with the next line.
#pragma once

#include <cstdint>
#include <string>

namespace orvanta {

struct LogSettings {
    std::string LogDateiName;          // full path of the program's log; empty until initialised
    std::int32_t LogDateiGroesse = 0;  // size limit in KiB
    std::int16_t LogSystem = 0;        // 16-bit Boolean: system lines are written
    std::int16_t Logdaten = 0;         // 16-bit Boolean: data lines are written
    std::int32_t LogDateiOCXGroesse = 0;
    std::string LogDateiOCXName;
};

}  // namespace orvanta
