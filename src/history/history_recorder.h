// The history's eyes: turns what the pass and the bridge decided into the line's history, on the loop's
// thread. It keeps what is open (each own machine's alarm episode, each machine slot's and the line's
// state interval, the gaps) and hands a record to the sink whenever one begins, changes or ends. It reads
// the results it is given and nothing else: the pass and the bridge write exactly what they wrote
// without it.
//
// A gap (the line display or the broker lost) closes every state interval, because no status is known
// then; intervals open again with the first results after it. Episodes are left to the passes: an alarm
// still chosen after the gap goes on, one that is not is cleared by the first pass that does not choose it.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "central/pass_outcome.h"
#include "core/event_loop.h"
#include "history/history_records.h"
#include "history/history_sink.h"

namespace orvanta {

class HistoryRecorder : public HistoryObserver {
public:
    struct Settings {
        std::string line;  // the line's name, for the run and the line's own interval
        std::int32_t utcOffsetMinutes = 0;
        std::string timeZone;  // the computer's zone, for the run
        // An alarm's texts in the plant's languages, asked before the first episode of its key in the run;
        // none when the text database has none (or failed). The wiring reads the text database, so that
        // the history does not need it.
        std::function<std::vector<history::LanguageText>(const std::string& textKey)> alarmTexts;
    };
    static constexpr std::int32_t kAliveIntervalMs = 1000;

    // now: the wall clock in milliseconds since 1970 UTC.
    HistoryRecorder(HistorySink& sink, EventLoop& loop, std::function<history::Millis()> now,
                    Settings settings);
    HistoryRecorder(const HistoryRecorder&) = delete;
    HistoryRecorder& operator=(const HistoryRecorder&) = delete;

    // Begins the run and its signs of life. end() closes whatever is open and ends the run; both are
    // done once.
    void start();
    void end();

    void passCompleted(const PassOutcome& outcome, const LineRecords& line) noexcept override;
    void lineChanged(const LineRecords& line) noexcept override;
    void lineConnected(bool connected) noexcept override;
    // The backend's connection to the broker (none on the embedded backend).
    void brokerConnected(bool connected) noexcept;

private:
    struct Episode {
        std::int64_t seq = 0;
        std::int16_t table = 0;
        std::int16_t ident = 0;
        std::int16_t fault = 0;
        std::int16_t priority = 0;
        std::int16_t displayStatus = 0;
        std::string textKey;
        bool published = false;
        bool echoed = false;
    };
    struct Interval {
        std::int64_t seq = 0;
        std::int16_t status = 0;
        bool foreign = false;
        std::string name;
        std::int16_t machine = 0;
    };
    struct OwnSlot {
        std::int16_t status = PassOutcome::kNotFed;
        std::string cause;
    };
    using Episodes = std::array<std::optional<Episode>, kAlarmMachines + 1>;  // per own machine 1..5

    void follow(Episodes& episodes, std::size_t machine, const PassOutcome::Choice& choice,
                const std::string& text, history::Millis at);
    void giveTexts(const std::string& textKey);
    void handshake(const PassOutcome& outcome, history::Millis at);
    void sample(const LineRecords& line, history::Millis at);
    void follow(std::optional<Interval>& open, std::int16_t slot, std::optional<std::int16_t> status,
                bool foreign, std::int16_t machine, const std::string& name, const std::string& cause,
                history::Millis at);
    void closeIntervals(history::Millis at);
    void gap(std::optional<std::int64_t>& open, history::GapKind kind, bool lost);
    void emit(history::Record record);
    std::int64_t nextSeq() { return ++seq_; }

    HistorySink& sink_;
    std::function<history::Millis()> now_;
    Settings settings_;
    Timer alive_;
    std::int64_t run_ = 0;
    std::int64_t seq_ = 0;
    bool running_ = false;
    bool ended_ = false;

    Episodes shown_;    // the alarm each own machine shows (tables 1 and 2)
    Episodes leading_;  // a table 3 message while it is the line's alarm
    std::array<std::optional<Interval>, kLineMachineCount> slots_;
    std::optional<Interval> lineInterval_;
    std::array<OwnSlot, kLineMachineCount> own_;  // what the last pass gave each own slot
    std::optional<std::int64_t> lineGap_;
    std::optional<std::int64_t> brokerGap_;
    // The text keys whose texts this run has given: at most one per alarm definition.
    std::unordered_set<std::string> textsGiven_;
};

}  // namespace orvanta
