// The frame every handler of the panel runs in. It writes an entry trace, runs the handler's statements
// one by one, and writes an exit trace; a statement that fails writes a fault line and the next statement
// runs, so a handler always reaches its end. That is what keeps a panel on a production line alive when
// one variable, one database cell or one call of the line display goes wrong. A read of a value the
// runtime still waits for fails the same way, without the fault line: the runtime says what it waits for.
//
//   HandlerFrame f(log, "TimerDaten_Timer", Trace::Data);   // entry trace now, exit trace at the end
//   f.step([&] { TimerDaten.setEnabled(false); });
//   if (f.condition([&] { return hStatus == 4; })) { ... }  // a condition that fails enters its branch
//
// Texts, as the plant's log readers know them:
//   entry   "<time> <date> <procedure> An "          exit   "<time> <date> <procedure> En "
//   fault   "<time> <date> Fault <number>; <description>; <source>; <procedure>"
#pragma once

#include <string>
#include <string_view>
#include <utility>

#include "core/vb_error.h"
#include "service/program_log.h"

namespace orvanta {

enum class Trace { System, Data };

struct FrameOptions {
    bool entryTrace = true;
    bool exitTrace = true;
    // false: a failing statement is cleared without a fault line (the reference-data readers).
    bool faultLines = true;
};

class HandlerFrame {
public:
    HandlerFrame(ProgramLog& log, std::string procedure, Trace category, FrameOptions options = {});
    ~HandlerFrame();
    HandlerFrame(const HandlerFrame&) = delete;
    HandlerFrame& operator=(const HandlerFrame&) = delete;

    // Runs one statement; a failure is logged (or cleared) and the handler goes on. Returns whether the
    // statement succeeded, for the few places that must not record as sent what never arrived.
    template <typename Statement>
    bool step(Statement&& statement) {
        try {
            std::forward<Statement>(statement)();
            return true;
        } catch (...) {
            fault(VbError::current("Orvanta"));
            return false;
        }
    }

    // Evaluates the condition of an If; a failure is logged and counts as true, so the handler goes on
    // with the first statement of the Then branch, as the original did.
    template <typename Test>
    bool condition(Test&& test) {
        try {
            return std::forward<Test>(test)();
        } catch (...) {
            fault(VbError::current("Orvanta"));
            return true;
        }
    }

    // The fault line of error, shown in the fault label; nothing when the frame clears faults or the error
    // is a value still awaited (VbErrorKind::Awaited), which its runtime reports.
    void fault(const VbError& error);
    // The fault line of error, shown, whether the frame clears faults or not.
    void report(const VbError& error);
    // A failed call of the text database: the fault line with the fault category only, not shown, then
    // "<time> <date> Fault <number>; Zervmdb.dll <call> ; <source>; <procedure>", shown.
    void reportTextDatabaseFault(const VbError& error, std::string_view call);
    // The fault line's text, for handlers with fault handling of their own.
    std::string faultText(const VbError& error) const;
    // A trace line "<time> <date> <text><suffix>" in the frame's category; nothing is built for a
    // category that is not written.
    void trace(std::string_view text, std::string_view suffix = {});

    const std::string& procedure() const { return procedure_; }
    ProgramLog& log() { return log_; }

private:
    ProgramLog& log_;
    std::string procedure_;
    Trace category_;
    FrameOptions options_;
};

}  // namespace orvanta
