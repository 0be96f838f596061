// What one cyclic pass decided, for whoever keeps a record of the line (the history): the alarm each own
// machine shows, the line's alarm and its handshake, and the status every own machine slot was given. It
// is handed out after the pass has done all its writes, so an observer sees results and changes none.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "linebridge/line_records.h"
#include "refdata/alarm_definitions.h"

namespace orvanta {

struct PassOutcome {
    struct Choice {
        const AlarmDef* alarm = nullptr;  // none when null; valid until the definitions are read again
        std::int16_t table = 0;           // 1, 2 or 3
        std::int16_t machine = 0;         // own machine 1..5
    };
    static constexpr std::int16_t kNotFed = -32768;  // a slot the pass gave no status

    std::array<Choice, kAlarmMachines + 1> shown{};         // per own machine 1..5: table 1 or 2
    std::array<std::string, kAlarmMachines + 1> shownText;  // the text a slot was given for it
    Choice lineAlarm;                                       // table 1 or 3
    bool linePublished = false;                             // written to the line alarm's variables
    bool lineEchoed = false;                                // the visualisation shows it: nothing written
    std::array<std::int16_t, kLineMachineCount> slotStatus{};
};

// Told of the main form's results, on the loop's thread, after the handler that made them has done its
// writes. It must not throw and must not call back into the form.
class HistoryObserver {
public:
    virtual ~HistoryObserver() = default;
    virtual void passCompleted(const PassOutcome& outcome, const LineRecords& line) noexcept = 0;
    // After the bridge prepared the line's parameters or values.
    virtual void lineChanged(const LineRecords& line) noexcept = 0;
    virtual void lineConnected(bool connected) noexcept = 0;
};

}  // namespace orvanta
