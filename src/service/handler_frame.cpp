#include "service/handler_frame.h"

#include "components/variant.h"

namespace orvanta {

HandlerFrame::HandlerFrame(ProgramLog& log, std::string procedure, Trace category, FrameOptions options)
    : log_(log), procedure_(std::move(procedure)), category_(category), options_(options) {
    if (options_.entryTrace) trace(procedure_ + " An ");
}

HandlerFrame::~HandlerFrame() {
    if (options_.exitTrace) trace(procedure_ + " En ");
}

void HandlerFrame::trace(std::string_view text) {
    const Clock& clock = log_.clock();
    const std::string line = clock.longTime() + " " + clock.shortDate() + " " + std::string(text);
    const bool system = category_ == Trace::System;
    log_.LogEintrag(line, 0, vbBool(system), vbBool(!system), 0);
}

std::string HandlerFrame::faultText(const VbError& error) const {
    const Clock& clock = log_.clock();
    return clock.longTime() + " " + clock.shortDate() + " Fault " + std::to_string(error.number()) + "; " +
           error.description() + "; " + error.source() + "; " + procedure_;
}

void HandlerFrame::fault(const VbError& error) {
    if (options_.faultLines) report(error);
}

void HandlerFrame::report(const VbError& error) { log_.LogEintrag(faultText(error), kTrue, 0, 0, kTrue); }

}  // namespace orvanta
