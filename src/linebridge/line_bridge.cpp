#include "linebridge/line_bridge.h"

namespace orvanta {

std::int16_t StatusPriority(std::int16_t status, std::int16_t previous) {
    switch (status) {
        case 0:
        case 1:
            return 1;
        case 2:
            return 3;
        case 3:
            return 4;
        case 4:
            return 5;
        case 5:
            return 6;
        case 6:
            return 2;
        default:
            return previous;
    }
}

LineBridge::LineBridge(LineRecords& records, const JumpFlags& jumps, const LanguageTable& languages,
                       ProcessVariables& variables, LineDisplay& BrenkoLineOCX, ProgramLog& log)
    : records_(records),
      jumps_(jumps),
      languages_(languages),
      variables_(variables),
      BrenkoLineOCX_(BrenkoLineOCX),
      log_(log) {}

}  // namespace orvanta
