#include "report/line_replay.h"

#include <algorithm>
#include <array>
#include <map>
#include <memory>
#include <optional>
#include <queue>
#include <tuple>
#include <utility>

#include "report/leaders.h"

namespace orvanta::report {

namespace {

constexpr Millis kMostWindows = 20LL * 366 * 24 * 6;
constexpr int kOwnMachines = 5;
constexpr const char* kUntold = "(more causes than the report tells apart)";

// A time of the file within the times a report covers (a damaged one clipped).
std::optional<Millis> within(std::optional<Millis> at) {
    if (!at) return at;
    return std::clamp(*at, kEarliestTime, kLatestTime);
}

Millis floorDiv(Millis a, Millis b) { return a / b - (a % b != 0 && (a < 0) != (b < 0) ? 1 : 0); }

// What a part of a stop is charged to: one of the alarms told apart, or a text alone (a foreign machine's
// message, the cause an older file recorded, or none).
struct CauseKey {
    int alarm = -1;
    std::string text;
    auto operator<=>(const CauseKey&) const = default;
};

// What makes a slot's fault after a gap the same stop: the same alarm episode, or the same message.
struct StopKey {
    std::int64_t episode = 0;
    std::string text;
    bool operator==(const StopKey&) const = default;
    bool empty() const { return episode == 0 && text.empty(); }
};

struct Alarm {
    AlarmName name;
    std::int64_t count = 0;
    std::array<Millis, kChatterRaises> recent{};  // its latest raises, a ring
    std::int64_t chatter = 0;
    Millis chatterFirst = 0;
    std::int64_t lastMarked = -1;  // the last of its raises counted as chattering
    std::int64_t lastRun = 0;      // its last raise, which gives its text as shown
    std::int64_t lastSeq = 0;
};

struct Episode {
    std::int64_t seq = 0;
    int alarm = -1;
    std::int64_t table = 0;
    std::int64_t ident = 0;
    std::int64_t fault = 0;
    std::string key;
    Millis end = 0;
};

struct OpenInterval {
    std::int64_t seq = 0;
    std::int64_t status = 0;
    Millis start = 0;
    Millis end = 0;
    int machine = 0;
    std::string cause;
    CauseKey charged;
    Millis chargedFrom = 0;
    Millis partBegan = 0;     // when the alarm it is charged to began to lead it
    bool partCounted = true;  // a part is counted once it has time: an alarm that led for no time is none
    CauseKey lastWithTime{-2, {}};  // the cause of the last part that had time
    Millis partTime = 0;            // the part's time so far, within this interval
    StopKey stop;
    std::int64_t stopNumber = 0;
};

struct SlotState {
    SlotFigures figures;
    bool seen = false;
    std::optional<OpenInterval> open;
    std::optional<StopKey> lastFault;  // the stop its previous interval was, when that was a fault
    std::int64_t lastStopNumber = 0;
    std::map<CauseKey, CauseDowntime> causes;
};

// The alarm published as the line's.
struct LineAlarm {
    std::int64_t seq = 0;
    int alarm = -1;
    std::int64_t table = 0;
    Millis end = 0;
};

struct Event {
    enum Kind { IntervalEnd, ShownEnd, Published };
    Millis at = 0;
    std::int64_t seq = 0;
    Kind kind = IntervalEnd;
    int index = 0;  // the slot + 1, or the machine
    LineAlarm published;
    bool operator>(const Event& other) const { return std::tie(at, seq) > std::tie(other.at, other.seq); }
};

struct StandingCandidate {
    StandingAlarm alarm;
    Millis count = 0;  // its time within the period, which ranks it
    std::int64_t run = 0;
    std::int64_t seq = 0;
};

// A run's rows in the order of time, through the index on their start: the panel writes them in that order,
// so the rows are read in the order they lie in the file, and only a file written otherwise costs seeks.
// Rows that begin at the same moment come in the order they lie in the file, which is the order the panel
// made them (ordering them by seq as well would sort every run again: twice the cost). Rows that begin
// before their run (whose id is its start) are damaged and left out.
constexpr const char* kIntervals = R"sql(
SELECT seq, slot, status, started, COALESCE(ended, :finish), cause, {machine}, name, foreign_machine
FROM state_intervals WHERE started >= :run AND started < :next AND +run = :run ORDER BY started
)sql";
constexpr const char* kEpisodes = R"sql(
SELECT seq, machine, alarm_table, ident, fault, text_key, raised, published, cleared{export}
FROM alarm_episodes WHERE raised >= :run AND raised < :next AND +run = :run ORDER BY raised
)sql";
constexpr const char* kShownText = R"sql(
SELECT CASE WHEN text = '' THEN text_key ELSE text END FROM alarm_episodes WHERE run = :run AND seq = :seq
)sql";

class Replay {
public:
    Replay(SqliteFile& file, const ReplayRequest& request) : file_(file), request_(request) {}

    ReplayResult run(const std::vector<RunSpan>& runs) {
        prepareWindows(runs);
        std::string intervals = kIntervals;
        intervals.replace(intervals.find("{machine}"), 9, request_.fileVersion >= 2 ? "machine" : "0");
        Statement intervalRows(file_, intervals.c_str());
        std::string episodes = kEpisodes;
        episodes.replace(
            episodes.find("{export}"), 8,
            request_.episodes ? ", priority, echoed, CASE WHEN text = '' THEN text_key ELSE text END" : "");
        Statement episodeRows(file_, episodes.c_str());
        for (std::size_t r = 0; r < runs.size(); ++r)
            replayRun(runs[r], r + 1 < runs.size() ? runs[r + 1].started : std::numeric_limits<Millis>::max(),
                      intervalRows, episodeRows);
        finish();
        return std::move(result_);
    }

private:
    // ---- the windows of the alarm load
    void prepareWindows(const std::vector<RunSpan>& runs) {
        if (runs.empty()) return;
        const Millis from = std::max(request_.from, runs.front().started);
        Millis to = request_.from;
        for (const RunSpan& span : runs) to = std::max(to, std::min(request_.to, span.finish));
        if (to <= from) return;
        phase_ = static_cast<Millis>(((request_.loadPhaseMinutes % 10) + 10) % 10) * 60'000;
        const Millis first = floorDiv(from + phase_, kLoadWindow);
        const Millis last = floorDiv(to - 1 + phase_, kLoadWindow);
        // A time stamp centuries off (a clock gone wrong) must not ask for gigabytes of windows.
        if (last - first >= kMostWindows)
            throw ReportError(file_.path() + ": the history spans more than 20 years (" +
                              std::to_string(from) + " to " + std::to_string(to) +
                              " ms): a time stamp is wrong; give --from and --to");
        firstWindow_ = first;
        result_.windowStart = first * kLoadWindow - phase_;
        result_.windowCounts.assign(static_cast<std::size_t>(last - first + 1), -1);
        for (const RunSpan& span : runs) {
            const Millis a = std::max(span.started, from);
            const Millis b = std::min(span.finish, to);
            if (b <= a) continue;
            for (Millis w = floorDiv(a + phase_, kLoadWindow); w <= floorDiv(b - 1 + phase_, kLoadWindow);
                 ++w)
                result_.windowCounts[static_cast<std::size_t>(w - first)] = 0;
        }
    }

    void countInWindow(Millis raised) {
        const Millis w = floorDiv(raised + phase_, kLoadWindow) - firstWindow_;
        if (w < 0 || w >= static_cast<Millis>(result_.windowCounts.size())) return;
        std::int64_t& count = result_.windowCounts[static_cast<std::size_t>(w)];
        if (count >= 0) ++count;
    }

    // ---- one run, its records in the order they were made
    void replayRun(const RunSpan& span, Millis next, Statement& intervalRows, Statement& episodeRows) {
        span_ = &span;
        clock_ = std::clamp(span.started, kEarliestTime, kLatestTime);
        for (Statement* rows : {&intervalRows, &episodeRows}) {
            rows->reset();
            rows->bind(":run", span.run).bind(":next", next);
        }
        intervalRows.bind(":finish", span.finish);
        bool moreIntervals = intervalRows.step();
        bool moreEpisodes = episodeRows.step();
        while (moreIntervals || moreEpisodes) {
            const bool interval =
                moreIntervals &&
                (!moreEpisodes || std::make_pair(intervalRows.integer(3), intervalRows.integer(0)) <
                                      std::make_pair(episodeRows.integer(6), episodeRows.integer(0)));
            if (interval) {
                intervalStarted(intervalRows);
                moreIntervals = intervalRows.step();
            } else {
                episodeRaised(episodeRows);
                moreEpisodes = episodeRows.step();
            }
        }
        handleEventsUntil(std::numeric_limits<Millis>::max());
        for (std::size_t s = 0; s < slots_.size(); ++s) {
            slots_[s].lastFault.reset();  // a new run is a new stop
            if (slots_[s].open) closeInterval(static_cast<int>(s) - 1, slots_[s].open->end);
        }
        shown_ = {};
        lineAlarm_.reset();
    }

    // A damaged file's rows may go back in time, or lie centuries off; they are taken at the time reached
    // and within the times a report covers, so that every figure stays a sum of time that went forward and
    // no difference of two times can wrap around.
    Millis advance(Millis at) {
        clock_ = std::max(clock_, std::clamp(at, kEarliestTime, kLatestTime));
        handleEventsUntil(clock_);
        return clock_;
    }

    void handleEventsUntil(Millis until) {
        while (!events_.empty() && events_.top().at <= until) {
            const Event event = events_.top();
            events_.pop();
            switch (event.kind) {
                case Event::IntervalEnd:
                    if (const auto& open = slots_[static_cast<std::size_t>(event.index)].open;
                        open && open->seq == event.seq)
                        closeInterval(event.index - 1, event.at);
                    break;
                case Event::ShownEnd:
                    if (shown_[static_cast<std::size_t>(event.index)] &&
                        shown_[static_cast<std::size_t>(event.index)]->seq == event.seq)
                        changeShown(event.index, std::nullopt, event.at);
                    break;
                case Event::Published:
                    lineAlarm_ = event.published;
                    break;
            }
        }
    }

    // ---- the slots
    void intervalStarted(const Statement& row) {
        const std::int64_t slot = row.integer(1);
        if (slot < history::kLineSlot || slot >= kSlotCount) {
            ++result_.damaged;
            return;
        }
        const Millis start = advance(row.integer(3));
        const Millis end = std::clamp(row.integer(4), start, std::max(start, span_->finish));
        SlotState& state = slots_[static_cast<std::size_t>(slot + 1)];
        if (state.open) closeInterval(static_cast<int>(slot), start);  // overlapping records of one slot
        const bool foreign = row.integer(8) != 0;
        const std::int64_t number = row.integer(6);
        const int machine = !foreign && number >= 1 && number <= kOwnMachines ? static_cast<int>(number) : 0;
        if (start < std::max(request_.to, request_.from + 1)) {
            state.figures.name = row.text(7);
            state.figures.foreign = foreign;
            state.figures.machine = machine;
        }
        if (std::min(end, request_.to) > std::max(start, request_.from)) state.seen = true;
        if (end == start) return;  // no time at all: neither a stop nor the end of one
        OpenInterval open;
        open.seq = row.integer(0);
        open.status = row.integer(2);
        open.start = start;
        open.end = end;
        open.machine = machine;
        open.cause = row.text(5);
        state.open = std::move(open);
        events_.push({end, row.integer(0), Event::IntervalEnd, static_cast<int>(slot + 1), {}});
        if (state.open->status == kFaultStatus) {
            faultStarted(static_cast<int>(slot), state);
        } else {
            state.lastFault.reset();
        }
    }

    void faultStarted(int slot, SlotState& state) {
        OpenInterval& open = *state.open;
        std::tie(open.charged, open.stop) = slot == history::kLineSlot ? lineCause() : causeOf(open);
        const bool continues = state.lastFault && !open.stop.empty() && *state.lastFault == open.stop;
        if (!continues && inPeriod(open.start)) ++state.figures.stops;
        open.stopNumber = continues ? state.lastStopNumber : ++stopNumbers_;
        open.chargedFrom = open.start;
        open.partBegan = open.start;
        open.partCounted = continues;
        if (continues) open.lastWithTime = open.charged;
        if (open.machine != 0) inFault_[static_cast<std::size_t>(open.machine)].push_back(slot + 1);
    }

    // A machine slot's cause now: its own machine's leading alarm, else the text the interval recorded.
    std::pair<CauseKey, StopKey> causeOf(const OpenInterval& open) const {
        if (open.machine == 0) return {{-1, open.cause}, {0, open.cause}};
        const std::optional<Episode>& leading = shown_[static_cast<std::size_t>(open.machine)];
        if (!leading) return {{-1, ""}, {}};
        return {{leading->alarm, ""}, {leading->seq, ""}};
    }

    // The line stops for the fault the pass published as the line's alarm; without one, for the machine
    // that went to fault first among those in fault.
    std::pair<CauseKey, StopKey> lineCause() const {
        if (lineAlarm_ && lineAlarm_->table == 1 && lineAlarm_->end > clock_)
            return {{lineAlarm_->alarm, ""}, {lineAlarm_->seq, ""}};
        const OpenInterval* first = nullptr;
        for (std::size_t s = 1; s < slots_.size(); ++s) {
            const std::optional<OpenInterval>& open = slots_[s].open;
            if (open && open->status == kFaultStatus && (first == nullptr || open->start < first->start))
                first = &*open;
        }
        if (first == nullptr) return {{-1, ""}, {}};
        return causeOf(*first);
    }

    void changeShown(int machine, std::optional<Episode> episode, Millis at) {
        std::vector<int>& inFault = inFault_[static_cast<std::size_t>(machine)];
        for (const int s : inFault) charge(slots_[static_cast<std::size_t>(s)], at);
        shown_[static_cast<std::size_t>(machine)] = std::move(episode);
        for (const int s : inFault) {
            OpenInterval& open = *slots_[static_cast<std::size_t>(s)].open;
            const CauseKey now = causeOf(open).first;
            if (now == open.charged) continue;
            endPart(slots_[static_cast<std::size_t>(s)], s - 1, at);
            // An alarm that comes back after a moment no other led (cleared and raised again in one pass)
            // goes on with its part.
            const bool hadTime = open.partCounted;
            if (hadTime) open.lastWithTime = open.charged;
            open.charged = now;
            open.partBegan = at;
            open.partCounted = !hadTime && now == open.lastWithTime;
        }
    }

    void charge(SlotState& state, Millis until) {
        OpenInterval& open = *state.open;
        const Millis time = counted(open.chargedFrom, until);
        open.chargedFrom = until;
        if (time == 0) return;
        CauseDowntime& cause = causeEntry(state, open.charged);
        if (!open.partCounted) {
            open.partCounted = true;
            if (inPeriod(open.partBegan)) ++cause.count;
        }
        open.partTime += time;
        cause.duration = saturatingSum(cause.duration, time);
        state.figures.timeIn[kFaultStatus] = saturatingSum(state.figures.timeIn[kFaultStatus], time);
    }

    void closeInterval(int slot, Millis end) {
        SlotState& state = slots_[static_cast<std::size_t>(slot + 1)];
        OpenInterval& open = *state.open;
        end = std::max(end, open.start);
        if (open.status == kFaultStatus) {
            charge(state, end);
            endPart(state, slot, end);
            state.lastFault = open.stop;
            state.lastStopNumber = open.stopNumber;
            std::vector<int>& inFault = inFault_[static_cast<std::size_t>(open.machine)];
            inFault.erase(std::remove(inFault.begin(), inFault.end(), slot + 1), inFault.end());
        } else if (open.status >= 1 && open.status < kStatusCount) {
            Millis& total = state.figures.timeIn[static_cast<std::size_t>(open.status)];
            total = saturatingSum(total, counted(open.start, end));
        }
        state.open.reset();
    }

    void endPart(SlotState& state, int slot, Millis end) {
        OpenInterval& open = *state.open;
        const Millis time = std::exchange(open.partTime, 0);
        const Millis began = std::max(open.partBegan, open.start);
        if (!request_.stopParts || time == 0) return;
        StopPart part{open.stopNumber,     slot, state.figures.machine, state.figures.name, began, end, time,
                      nameOf(open.charged)};
        request_.stopParts(part);
    }

    std::string textOf(std::int64_t run, std::int64_t seq) {
        if (!shownText_) shownText_ = std::make_unique<Statement>(file_, kShownText);
        shownText_->reset();
        shownText_->bind(":run", run).bind(":seq", seq);
        return shownText_->step() ? shownText_->text(0) : std::string();
    }

    AlarmName nameOf(const CauseKey& key) {
        if (key.alarm < 0) return AlarmName{0, 0, 0, {}, key.text};
        const Alarm& alarm = alarms_[static_cast<std::size_t>(key.alarm)];
        AlarmName name = alarm.name;
        name.text = textOf(alarm.lastRun, alarm.lastSeq);
        return name;
    }

    CauseDowntime& causeEntry(SlotState& state, const CauseKey& key) {
        auto found = state.causes.find(key);
        if (found != state.causes.end()) return found->second;
        if (causeCount_ >= kMostAlarms) return state.causes[{-1, kUntold}];
        ++causeCount_;
        return state.causes[key];
    }

    bool inPeriod(Millis at) const { return at >= request_.from && at < request_.to; }

    // The time of [a, b) within the period and outside the run's gaps.
    Millis counted(Millis a, Millis b) const {
        a = std::max(a, request_.from);
        b = std::min(b, request_.to);
        if (b <= a) return 0;
        Millis time = b - a;
        const auto& gaps = span_->gaps;
        auto gap =
            std::partition_point(gaps.begin(), gaps.end(), [&](const auto& g) { return g.second <= a; });
        for (; gap != gaps.end() && gap->first < b; ++gap)
            time -= std::min(b, gap->second) - std::max(a, gap->first);
        return std::max<Millis>(0, time);
    }

    // ---- the alarms
    void episodeRaised(const Statement& row) {
        Episode episode;
        episode.seq = row.integer(0);
        const std::int64_t machine = row.integer(1);
        episode.table = row.integer(2);
        episode.ident = row.integer(3);
        episode.fault = row.integer(4);
        episode.key = row.text(5);
        const Millis raised = advance(row.integer(6));
        const std::optional<Millis> cleared = row.optionalInteger(8);
        episode.end = std::clamp(cleared.value_or(span_->finish), raised, std::max(raised, span_->finish));
        episode.alarm = alarmIndex(machine, episode.table, episode.fault, episode.key, row.integer(0));
        const bool own = machine >= 1 && machine <= kOwnMachines;
        // A message that leads the line is also its machine's table 2 alarm: one raise, counted once.
        const Episode* shown = own ? shown_[static_cast<std::size_t>(machine)].operator->() : nullptr;
        const bool twin = episode.table == 3 && shown != nullptr && shown->table == 2 &&
                          shown->ident == episode.ident && shown->fault == episode.fault &&
                          shown->key == episode.key && shown->end > raised;
        if (const std::optional<Millis> published = row.optionalInteger(7))
            events_.push({std::max(*published, raised),
                          episode.seq,
                          Event::Published,
                          0,
                          {episode.seq, episode.alarm, episode.table, episode.end}});
        if (own && (episode.table == 1 || episode.table == 2)) {
            events_.push({episode.end, episode.seq, Event::ShownEnd, static_cast<int>(machine), {}});
            changeShown(static_cast<int>(machine), episode, raised);
        }
        if (request_.episodes && inPeriod(raised)) {
            EpisodeEvent event{{static_cast<int>(machine), static_cast<int>(episode.table),
                                static_cast<int>(episode.fault), episode.key, row.text(11)},
                               static_cast<int>(row.integer(9)),
                               raised,
                               within(row.optionalInteger(7)),
                               within(row.optionalInteger(10)),
                               cleared ? std::optional(std::max(raised, *within(cleared))) : std::nullopt,
                               !twin};
            request_.episodes(event);
        }
        if (twin) return;
        if (inPeriod(raised)) alarmRaised(episode.alarm, raised);
        standing(episode, raised, cleared, row.integer(0));
    }

    int alarmIndex(std::int64_t machine, std::int64_t table, std::int64_t fault, const std::string& key,
                   std::int64_t seq) {
        const auto identity = std::make_tuple(machine, table, fault);
        auto found = alarmIndex_.find(identity);
        if (found == alarmIndex_.end()) {
            if (alarms_.size() >= kMostAlarms) return -1;
            found = alarmIndex_.emplace(identity, static_cast<int>(alarms_.size())).first;
            Alarm alarm;
            alarm.name = {
                static_cast<int>(machine), static_cast<int>(table), static_cast<int>(fault), key, {}};
            alarms_.push_back(std::move(alarm));
        }
        Alarm& alarm = alarms_[static_cast<std::size_t>(found->second)];
        alarm.name.textKey = key;
        alarm.lastRun = span_->run;
        alarm.lastSeq = seq;
        return found->second;
    }

    void alarmRaised(int index, Millis raised) {
        ++all_;
        countInWindow(raised);
        if (index < 0) {
            ++result_.alarmsNotTold;
            return;
        }
        Alarm& alarm = alarms_[static_cast<std::size_t>(index)];
        const std::int64_t i = alarm.count;
        if (i >= kChatterRaises - 1) {
            const Millis earlier =
                alarm.recent[static_cast<std::size_t>((i - (kChatterRaises - 1)) % kChatterRaises)];
            if (raised - earlier <= kChatterWithin) {
                if (alarm.chatter == 0) alarm.chatterFirst = earlier;
                // This raise and the two before it chatter; those already counted are not counted again.
                alarm.chatter += i - std::max(alarm.lastMarked, i - kChatterRaises);
                alarm.lastMarked = i;
            }
        }
        alarm.recent[static_cast<std::size_t>(i % kChatterRaises)] = raised;
        ++alarm.count;
    }

    void standing(const Episode& episode, Millis raised, std::optional<Millis> cleared, std::int64_t seq) {
        const Millis end = std::min(episode.end, request_.to);
        if (end - raised <= kStandingLonger || end <= request_.from) return;
        StandingCandidate candidate;
        if (episode.alarm >= 0) candidate.alarm.alarm = alarms_[static_cast<std::size_t>(episode.alarm)].name;
        candidate.alarm.raised = raised;
        candidate.alarm.cleared = cleared;
        candidate.alarm.active = end - std::max(raised, request_.from);
        candidate.count = candidate.alarm.active;
        candidate.run = span_->run;
        candidate.seq = seq;
        standing_.offer(candidate);
    }

    // ---- the figures
    void finish() {
        const Millis length = request_.to - request_.from;
        std::map<CauseKey, CauseDowntime> pareto;
        std::array<int, kOwnMachines + 1> slotsOfMachine{};
        for (SlotState& state : slots_)
            if (state.seen) ++slotsOfMachine[static_cast<std::size_t>(state.figures.machine)];
        for (std::size_t s = 0; s < slots_.size(); ++s) {
            SlotState& state = slots_[s];
            if (!state.seen) continue;
            SlotFigures figures = std::move(state.figures);
            figures.slot = static_cast<int>(s) - 1;
            figures.sharesMachine =
                figures.machine != 0 && slotsOfMachine[static_cast<std::size_t>(figures.machine)] > 1;
            Millis known = 0;
            for (int status = 1; status < kStatusCount; ++status)
                known = saturatingSum(known, figures.timeIn[status]);
            // Status 0, the time outside runs and in gaps: whatever no other status covers.
            figures.timeIn[0] = std::max<Millis>(0, length - known);
            for (auto& [key, cause] : state.causes) {
                if (cause.duration == 0 && cause.count == 0) continue;
                cause.cause = nameOf(key);
                figures.causes.push_back(cause);
                if (figures.slot == history::kLineSlot) continue;
                CauseDowntime& total = pareto[key];
                total.cause = cause.cause;
                total.duration = saturatingSum(total.duration, cause.duration);
                total.count = saturatingSum(total.count, cause.count);
            }
            sortCauses(figures.causes);
            result_.slots.push_back(std::move(figures));
        }
        std::stable_sort(result_.slots.begin(), result_.slots.end(),
                         [](const SlotFigures& a, const SlotFigures& b) {
                             auto rank = [](const SlotFigures& f) {
                                 return std::make_tuple(f.slot == history::kLineSlot ? 0
                                                        : f.machine != 0             ? 1
                                                                                     : 2,
                                                        f.machine, f.slot);
                             };
                             return rank(a) < rank(b);
                         });
        for (auto& [key, total] : pareto) result_.pareto.push_back(total);
        sortCauses(result_.pareto);

        AlarmLoad& load = result_.load;
        for (std::size_t w = 0; w < result_.windowCounts.size(); ++w) {
            const std::int64_t count = result_.windowCounts[w];
            if (count < 0) continue;
            ++load.windows;
            load.episodes += count;
            if (count > load.peak) {
                load.peak = count;
                load.peakAt = result_.windowStart + static_cast<Millis>(w) * kLoadWindow;
            }
            if (count > kFloodAbove) ++load.floodWindows;
        }
        if (load.windows > 0)
            load.mean = static_cast<double>(load.episodes) / static_cast<double>(load.windows);

        // Among equal counts the alarms come in the order of machine, table and fault.
        struct Listed {
            int index = 0;
            std::int64_t count = 0;
        };
        Leaders<Listed> bad(kBadActorCount);
        Leaders<Listed> chattering(kListedAlarms);
        for (const auto& [identity, index] : alarmIndex_) {
            const Alarm& alarm = alarms_[static_cast<std::size_t>(index)];
            if (alarm.count > 0) bad.offer({index, alarm.count});
            if (alarm.chatter > 0) chattering.offer({index, alarm.chatter});
        }
        for (const Listed& listed : bad.kept())
            result_.badActors.push_back({nameOf({listed.index, ""}), listed.count,
                                         static_cast<double>(listed.count) / static_cast<double>(all_)});
        for (const Listed& listed : chattering.kept())
            result_.chattering.push_back({nameOf({listed.index, ""}), listed.count,
                                          alarms_[static_cast<std::size_t>(listed.index)].chatterFirst});
        result_.chatteringNotListed = chattering.left();
        for (const StandingCandidate& candidate : standing_.kept()) {
            StandingAlarm alarm = candidate.alarm;
            alarm.alarm.text = textOf(candidate.run, candidate.seq);
            result_.standing.push_back(std::move(alarm));
        }
        result_.standingNotListed = standing_.left();
    }

    static void sortCauses(std::vector<CauseDowntime>& causes) {
        std::stable_sort(causes.begin(), causes.end(), [](const CauseDowntime& a, const CauseDowntime& b) {
            return a.duration != b.duration ? a.duration > b.duration : a.count > b.count;
        });
    }

    SqliteFile& file_;
    const ReplayRequest& request_;
    ReplayResult result_;
    const RunSpan* span_ = nullptr;
    Millis clock_ = 0;
    Millis phase_ = 0;
    Millis firstWindow_ = 0;
    std::priority_queue<Event, std::vector<Event>, std::greater<>> events_;
    std::array<SlotState, kSlotCount + 1> slots_;                 // by slot + 1, the line first
    std::array<std::vector<int>, kOwnMachines + 1> inFault_;      // by own machine: its slots (+ 1) in fault
    std::array<std::optional<Episode>, kOwnMachines + 1> shown_;  // the alarm leading each own machine
    std::optional<LineAlarm> lineAlarm_;                          // the alarm last published as the line's
    std::map<std::tuple<std::int64_t, std::int64_t, std::int64_t>, int> alarmIndex_;
    std::vector<Alarm> alarms_;
    std::size_t causeCount_ = 0;
    std::int64_t stopNumbers_ = 0;
    std::unique_ptr<Statement> shownText_;
    std::int64_t all_ = 0;
    Leaders<StandingCandidate> standing_{kListedAlarms};
};

}  // namespace

ReplayResult replayRuns(SqliteFile& file, const std::vector<RunSpan>& runs, const ReplayRequest& request) {
    return Replay(file, request).run(runs);
}

}  // namespace orvanta::report
