#include "service/handler_frame.h"

#include "core/variant.h"

namespace orvanta {

HandlerFrame::HandlerFrame(ProgramLog& log, std::string procedure, Trace category, FrameOptions options)
    : log_(log), procedure_(std::move(procedure)), category_(category), options_(options) {
    if (options_.entryTrace) trace(procedure_, " An ");
}

HandlerFrame::~HandlerFrame() {
    if (options_.exitTrace) trace(procedure_, " En ");
}

void HandlerFrame::trace(std::string_view text, std::string_view suffix) {
    const std::int16_t system = vbBool(category_ == Trace::System);
    const std::int16_t data = vbBool(category_ == Trace::Data);
    if (!log_.writes(system, data, kFalse)) return;
    std::string line = log_.clock().logStamp();
    line += text;
    line += suffix;
    log_.LogEintrag(line, kFalse, system, data, kFalse);
}

std::string HandlerFrame::faultText(const VbError& error) const {
    return log_.clock().logStamp() + "Fault " + std::to_string(error.number()) + "; " + error.description() +
           "; " + error.source() + "; " + procedure_;
}

void HandlerFrame::fault(const VbError& error) {
    // The runtime that waits for a value says so itself, once; a line per read would bury it.
    if (options_.faultLines && error.kind() != VbErrorKind::Awaited) report(error);
}

void HandlerFrame::report(const VbError& error) {
    log_.LogEintrag(faultText(error), kTrue, kFalse, kFalse, kTrue);
}

}  // namespace orvanta

namespace orvanta {

void HandlerFrame::reportTextDatabaseFault(const VbError& error, std::string_view call) {
    log_.LogEintrag(faultText(error), kFalse, kFalse, kFalse, kTrue);
    log_.LogEintrag(log_.clock().logStamp() + "Fault " + std::to_string(error.number()) + "; Zervmdb.dll " +
                        std::string(call) + " ; " + error.source() + "; " + procedure_,
                    kTrue, kFalse, kFalse, kTrue);
}

}  // namespace orvanta
