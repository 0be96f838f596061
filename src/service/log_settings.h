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

// A configured size limit in KiB, or the default of 100 when it is missing or outside 10 to 2000.
inline std::int32_t logSizeOrDefault(std::int16_t kib) { return kib < 10 || kib > 2000 ? 100 : kib; }

}  // namespace orvanta
