// The line-display bridge: moves the line's configuration and the foreign machines' values from the line
// display to the process variables. LinienParaAufbereiten (names, symbols, flags, display groups, the
// display font) ends by running LinienWerteAufbereiten (character sets, fonts, status codes, messages,
// group and line status, the jump request and the new-data flags).
//
// Integer arrays are read whole, changed and written back whole once per pass; string elements are
// written one by one and only when they changed since they were last sent. Every step runs under the
// handler frame: a failing call of the line display or the runtime is logged and the pass goes on.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "linebridge/line_records.h"
#include "ports/line_display.h"
#include "ports/process_variables.h"
#include "refdata/languages.h"
#include "service/program_log.h"

namespace orvanta {

// The rank of a status code (the highest wins): 0 and 1 rank 1, 2 ranks 3, 3 ranks 4, 4 ranks 5, 5 ranks
// 6, 6 ranks 2; any other code keeps the previous rank.
std::int16_t StatusPriority(std::int16_t status, std::int16_t previous);

class LineBridge {
public:
    LineBridge(LineRecords& records, const JumpFlags& jumps, const LanguageTable& languages,
               ProcessVariables& variables, LineDisplay& BrenkoLineOCX, ProgramLog& log);

    // Trace name: callerName & ".LinienParaAufbereiten".
    void LinienParaAufbereiten(const std::string& callerName);
    // Trace name: callerName & ".LinienWerteAufbereiten".
    void LinienWerteAufbereiten(const std::string& callerName);

private:
    LineRecords& records_;
    const JumpFlags& jumps_;
    const LanguageTable& languages_;
    ProcessVariables& variables_;
    LineDisplay& BrenkoLineOCX_;
    ProgramLog& log_;
};

}  // namespace orvanta
