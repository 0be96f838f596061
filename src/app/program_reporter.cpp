#include "app/program_reporter.h"

#include <ostream>
#include <string>
#include <utility>

#include "core/variant.h"

namespace orvanta {

ErrorReporter programReporter(std::ostream& err, std::function<ProgramLog*()> log) {
    return [&err, log = std::move(log)](Severity severity, const std::string& message) {
        const bool notice = severity == Severity::Notice;
        err << (notice ? "Orvanta: " : "Orvanta: error: ") << message << std::endl;
        ProgramLog* target = log();
        if (target == nullptr) return;
        const std::string line = target->clock().logStamp() + message;
        if (notice) {
            target->LogHinweis(line);
        } else {
            target->LogEintrag(line, 0, 0, 0, kTrue);
        }
    };
}

}  // namespace orvanta
