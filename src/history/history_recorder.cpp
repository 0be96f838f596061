#include "history/history_recorder.h"

#include <utility>

#include "core/variant.h"

namespace orvanta {

using history::Millis;

HistoryRecorder::HistoryRecorder(HistorySink& sink, EventLoop& loop, std::function<Millis()> now,
                                 Settings settings)
    : sink_(sink),
      now_(std::move(now)),
      settings_(std::move(settings)),
      alive_(loop, "HistoryAlive", kAliveIntervalMs, [this] {
          emit(history::RunAlive{run_, now_()});
      }) {}

void HistoryRecorder::start() {
    if (running_ || ended_) return;
    const Millis at = now_();
    run_ = at;
    running_ = true;
    emit(history::RunStarted{run_, at, settings_.utcOffsetMinutes, settings_.line, settings_.timeZone});
    alive_.setEnabled(true);
}

void HistoryRecorder::end() {
    if (!running_) return;
    const Millis at = now_();
    alive_.setEnabled(false);
    for (const Episodes* episodes : {&shown_, &leading_})
        for (const std::optional<Episode>& episode : *episodes)
            if (episode) emit(history::EpisodeCleared{run_, episode->seq, at});
    closeIntervals(at);
    for (const std::optional<std::int64_t>* open : {&lineGap_, &brokerGap_})
        if (*open) emit(history::GapEnded{run_, **open, at});
    emit(history::RunEnded{run_, at});
    running_ = false;
    ended_ = true;
}

void HistoryRecorder::passCompleted(const PassOutcome& outcome, const LineRecords& line) noexcept {
    if (!running_) return;
    try {
        const Millis at = now_();
        const PassOutcome::Choice none;
        for (std::size_t m = 1; m <= kAlarmMachines; ++m) {
            follow(shown_, m, outcome.shown[m], outcome.shownText[m], at);
            const bool leads =
                outcome.lineAlarm.table == 3 && outcome.lineAlarm.machine == static_cast<int>(m);
            // No slot shows a table 3 message: its episode has no text shown.
            follow(leading_, m, leads ? outcome.lineAlarm : none, "", at);
        }
        handshake(outcome, at);

        for (std::size_t slot = 0; slot < own_.size(); ++slot) {
            const std::int16_t status = outcome.slotStatus[slot];
            if (status == PassOutcome::kNotFed) continue;
            const MachineRecord& machine = line.machines[slot];
            const bool alarmText =
                machine.textFlag == 0 && machine.number >= 1 && machine.number <= kAlarmMachines;
            own_[slot].status = status;
            own_[slot].cause = alarmText ? outcome.shownText[static_cast<std::size_t>(machine.number)] : "";
        }
        sample(line, at);
    } catch (...) {
        // Out of memory for a record: the history misses it, the pass is not disturbed.
    }
}

void HistoryRecorder::lineChanged(const LineRecords& line) noexcept {
    if (!running_) return;
    try {
        sample(line, now_());
    } catch (...) {
    }
}

void HistoryRecorder::lineConnected(bool connected) noexcept {
    if (!running_) return;
    try {
        gap(lineGap_, history::GapKind::Line, !connected);
    } catch (...) {
    }
}

void HistoryRecorder::brokerConnected(bool connected) noexcept {
    if (!running_) return;
    try {
        gap(brokerGap_, history::GapKind::Broker, !connected);
    } catch (...) {
    }
}

// An episode lasts while the same alarm stays chosen; another alarm, or none, ends it.
void HistoryRecorder::follow(Episodes& episodes, std::size_t machine, const PassOutcome::Choice& choice,
                             const std::string& text, Millis at) {
    std::optional<Episode>& open = episodes[machine];
    const AlarmDef* alarm = choice.alarm;
    if (open && (alarm == nullptr || open->table != choice.table || open->ident != alarm->Ident ||
                 open->fault != alarm->Fault || open->priority != alarm->Priority ||
                 open->displayStatus != alarm->AnzeigeStatus || open->textKey != alarm->AlarmText)) {
        emit(history::EpisodeCleared{run_, open->seq, at});
        open.reset();
    }
    if (open || alarm == nullptr) return;
    giveTexts(alarm->AlarmText);
    open = Episode{nextSeq(),       choice.table,         alarm->Ident,    alarm->Fault,
                   alarm->Priority, alarm->AnzeigeStatus, alarm->AlarmText};
    emit(history::EpisodeRaised{run_, open->seq, static_cast<std::int16_t>(machine), choice.table,
                                alarm->Ident, alarm->Fault, alarm->AlarmText, text, alarm->Priority,
                                alarm->AnzeigeStatus, at});
}

// A key whose texts the text database could not give is asked again at its next episode: a text
// database that failed stays failed, so that costs one look at its state.
void HistoryRecorder::giveTexts(const std::string& textKey) {
    if (!settings_.alarmTexts || textsGiven_.count(textKey) != 0) return;
    try {
        std::vector<history::LanguageText> texts = settings_.alarmTexts(textKey);
        if (texts.empty()) return;
        textsGiven_.insert(textKey);
        emit(history::AlarmTexts{run_, textKey, std::move(texts)});
    } catch (...) {
        // Without its texts a report names the alarm by the text shown; the episode is still recorded.
    }
}

// The line's alarm is one of the machines' episodes. One the visualisation already shows when it is
// chosen again is not written again; it counts as published when it is first seen echoed.
void HistoryRecorder::handshake(const PassOutcome& outcome, Millis at) {
    const PassOutcome::Choice& line = outcome.lineAlarm;
    if (line.alarm == nullptr || line.machine < 1 || line.machine > kAlarmMachines) return;
    Episodes& episodes = line.table == 3 ? leading_ : shown_;
    std::optional<Episode>& episode = episodes[static_cast<std::size_t>(line.machine)];
    if (!episode) return;
    if (!episode->published && (outcome.linePublished || outcome.lineEchoed)) {
        episode->published = true;
        emit(history::EpisodePublished{run_, episode->seq, at});
    }
    if (!episode->echoed && outcome.lineEchoed) {
        episode->echoed = true;
        emit(history::EpisodeEchoed{run_, episode->seq, at});
    }
}

void HistoryRecorder::sample(const LineRecords& line, Millis at) {
    if (lineGap_ || brokerGap_) return;
    for (std::size_t slot = 0; slot < slots_.size(); ++slot) {
        const MachineRecord& machine = line.machines[slot];
        const bool enabled = machine.enabled == kTrue;
        const bool foreign = machine.foreign == kTrue;
        const bool numbered = !foreign && machine.number >= 1 && machine.number <= kAlarmMachines;
        std::optional<std::int16_t> status;
        const std::string* cause = &own_[slot].cause;
        if (enabled && foreign) {
            status = line.values[slot].rawStatus;
            cause = &line.values[slot].message;
        } else if (enabled && own_[slot].status != PassOutcome::kNotFed) {
            status = own_[slot].status;
        }
        follow(slots_[slot], static_cast<std::int16_t>(slot), status, foreign, numbered ? machine.number : 0,
               machine.name, *cause, at);
    }
    follow(lineInterval_, history::kLineSlot, line.lineStatus, false, 0, settings_.line, "", at);
}

// An interval lasts while its slot keeps its status, machine name, number and kind; its cause is the one
// it began with, so a fault whose alarm changes is still one stop.
void HistoryRecorder::follow(std::optional<Interval>& open, std::int16_t slot,
                             std::optional<std::int16_t> status, bool foreign, std::int16_t machine,
                             const std::string& name, const std::string& cause, Millis at) {
    if (open && (!status || open->status != *status || open->foreign != foreign || open->name != name ||
                 open->machine != machine)) {
        emit(history::IntervalEnded{run_, open->seq, at});
        open.reset();
    }
    if (open || !status) return;
    open = Interval{nextSeq(), *status, foreign, name, machine};
    emit(history::IntervalStarted{run_, open->seq, slot, name, foreign, *status, *status == 1 ? "" : cause,
                                  at, machine});
}

void HistoryRecorder::closeIntervals(Millis at) {
    for (std::optional<Interval>& open : slots_) {
        if (open) emit(history::IntervalEnded{run_, open->seq, at});
        open.reset();
    }
    if (lineInterval_) emit(history::IntervalEnded{run_, lineInterval_->seq, at});
    lineInterval_.reset();
}

// A lost connection opens its gap and ends every interval, since no status is known while it lasts; what
// the own slots were given before it is forgotten, so they open again only with the next pass.
void HistoryRecorder::gap(std::optional<std::int64_t>& open, history::GapKind kind, bool lost) {
    const Millis at = now_();
    if (lost && !open) {
        closeIntervals(at);
        for (OwnSlot& slot : own_) slot = OwnSlot{};
        open = nextSeq();
        emit(history::GapStarted{run_, *open, kind, at});
    } else if (!lost && open) {
        emit(history::GapEnded{run_, *open, at});
        open.reset();
    }
}

void HistoryRecorder::emit(history::Record record) { sink_.record(record); }

}  // namespace orvanta
