#include "report/line_report.h"

#include <algorithm>
#include <map>
#include <tuple>

#include "report/empty_period.h"
#include "report/sqlite_file.h"

namespace orvanta::report {

std::optional<double> SlotFigures::availability() const {
    if (up() == 0 && down() == 0) return std::nullopt;
    return static_cast<double>(up()) / (static_cast<double>(up()) + static_cast<double>(down()));
}

std::optional<Millis> SlotFigures::mtbf() const {
    if (stops == 0) return std::nullopt;
    return up() / stops;
}

std::optional<Millis> SlotFigures::mttr() const {
    if (stops == 0) return std::nullopt;
    return down() / stops;
}

namespace {

// Each run's span, an open run ending at its last sign; and the gaps of each run, their overlaps merged,
// so that time in two gaps at once is taken away once.
constexpr const char* kSpans = R"sql(
CREATE TEMP TABLE run_span (run INTEGER PRIMARY KEY, started INTEGER NOT NULL, finish INTEGER NOT NULL);
INSERT INTO run_span (run, started, finish) SELECT run, started, COALESCE(ended, last_seen) FROM runs;
CREATE TEMP TABLE gap_span (run INTEGER NOT NULL, started INTEGER NOT NULL, finish INTEGER NOT NULL);
INSERT INTO gap_span
WITH g AS (SELECT g.run, g.started AS s, MIN(COALESCE(g.ended, r.finish), r.finish) AS e
           FROM gaps g JOIN run_span r ON r.run = g.run),
     o AS (SELECT run, s, e, MAX(e) OVER (PARTITION BY run ORDER BY s, e
                                          ROWS BETWEEN UNBOUNDED PRECEDING AND 1 PRECEDING) AS reach
           FROM g WHERE e > s),
     i AS (SELECT run, s, e, SUM(reach IS NULL OR s > reach) OVER (PARTITION BY run ORDER BY s, e
                                                                    ROWS UNBOUNDED PRECEDING) AS island
           FROM o)
SELECT run, MIN(s), MAX(e) FROM i GROUP BY run, island;
CREATE INDEX temp.gap_span_started ON gap_span (started);
)sql";

// Time per slot, status and (for faults) cause, clipped to the period; the number of fault intervals that
// begin within it; the longest interval, which bounds the search for gaps below. A plain scan of the table:
// one pass beats a million look-ups through the index on started.
constexpr const char* kStates = R"sql(
WITH iv AS (
  SELECT i.slot, i.status, i.started AS begun,
         CASE WHEN i.status = 4 THEN i.cause ELSE '' END AS cause,
         MAX(i.started, :from) AS s, MIN(COALESCE(i.ended, r.finish), :to) AS e,
         COALESCE(i.ended, r.finish) - i.started AS length
  FROM state_intervals i JOIN run_span r ON r.run = i.run
  WHERE i.slot BETWEEN -1 AND 63)
SELECT slot, status, cause, SUM(e - s), COUNT(*), SUM(begun >= :from), MAX(length)
FROM iv WHERE e > s
GROUP BY slot, status, cause
)sql";

// In one scan of the table: the records that name no slot of the line (0..63, -1 for the line itself),
// which are damaged, left out and counted; and each slot's latest interval begun before the period's end,
// which names the slot (a look-up per slot through the index on started would walk back over the whole
// file for a slot seen only long ago).
constexpr const char* kSlotScan = R"sql(
SELECT slot BETWEEN -1 AND 63, slot, started < :to, started, rowid FROM state_intervals
)sql";
constexpr const char* kSlotName = "SELECT name, foreign_machine FROM state_intervals WHERE rowid = :row";

// The part of each interval that lies in a gap of its run, found from the gaps (few) rather than from the
// intervals (many): those that start in the gap or began at most the longest interval before it. The joins
// keep this order.
constexpr const char* kStatesInGaps = R"sql(
SELECT i.slot, i.status, CASE WHEN i.status = 4 THEN i.cause ELSE '' END AS cause,
       SUM(MIN(COALESCE(i.ended, r.finish), g.finish, :to) - MAX(i.started, g.started, :from)) AS overlap
FROM gap_span g
CROSS JOIN state_intervals i ON i.started >= g.started - :longest AND i.started < g.finish AND +i.run = g.run
CROSS JOIN run_span r ON r.run = i.run
WHERE i.slot BETWEEN -1 AND 63 AND MIN(COALESCE(i.ended, r.finish), g.finish, :to) > MAX(i.started, g.started, :from)
GROUP BY i.slot, i.status, cause
)sql";

constexpr const char* kEpisodesPerWindow = R"sql(
SELECT raised / :window, COUNT(*) FROM alarm_episodes WHERE raised >= :from AND raised < :to
GROUP BY raised / :window
)sql";

// Every episode of the period in the order of its alarm and time: one sort serves the count of each alarm
// and its chattering, which the reader works out row by row keeping only the alarm at hand.
constexpr const char* kEpisodesByAlarm = R"sql(
SELECT machine, alarm_table, fault, raised FROM alarm_episodes WHERE +raised >= :from AND raised < :to
ORDER BY machine, alarm_table, fault, raised
)sql";

// An alarm's text as last shown, looked up by its last raise (the index on raised finds it).
constexpr const char* kAlarmText = R"sql(
SELECT CASE WHEN text = '' THEN text_key ELSE text END FROM alarm_episodes
WHERE raised = :raised AND machine = :machine AND alarm_table = :table AND fault = :fault LIMIT 1
)sql";

constexpr const char* kStanding = R"sql(
WITH a AS (
  SELECT a.machine, a.alarm_table, a.fault, a.text, a.text_key, a.raised, a.cleared,
         MIN(COALESCE(a.cleared, r.finish), :to) AS e
  FROM alarm_episodes a JOIN run_span r ON r.run = a.run)
SELECT machine, alarm_table, fault, CASE WHEN text = '' THEN text_key ELSE text END, raised, cleared,
       e - raised AS active
FROM a WHERE e > :from AND e - raised > :longer
ORDER BY active DESC, raised
)sql";

constexpr const char* kTimelineStates = R"sql(
WITH iv AS (
  SELECT i.slot, i.status, MAX(i.started, :from) AS s, MIN(COALESCE(i.ended, r.finish), :to) AS e
  FROM state_intervals i JOIN run_span r ON r.run = i.run WHERE i.slot BETWEEN -1 AND 63)
SELECT iv.slot, b.b, iv.status, SUM(MIN(iv.e, b.e) - MAX(iv.s, b.s))
FROM iv JOIN column_span b ON b.b BETWEEN (iv.s - :from) / :width AND (iv.e - 1 - :from) / :width
WHERE iv.e > iv.s
GROUP BY iv.slot, b.b, iv.status
)sql";

constexpr const char* kTimelineGaps = R"sql(
WITH g AS (SELECT MAX(started, :from) AS s, MIN(finish, :to) AS e FROM gap_span
           WHERE started < :to AND finish > :from)
SELECT b.b, SUM(MIN(g.e, b.e) - MAX(g.s, b.s))
FROM g JOIN column_span b ON b.b BETWEEN (g.s - :from) / :width AND (g.e - 1 - :from) / :width
GROUP BY b.b
)sql";

constexpr Millis kMostWindows = 20LL * 366 * 24 * 6;

void bindPeriod(Statement& statement, Millis from, Millis to) {
    statement.bind(":from", from).bind(":to", to);
}

int offsetMinutes(std::int64_t recorded) {
    return static_cast<int>(std::clamp<std::int64_t>(recorded, -kMostOffsetMinutes, kMostOffsetMinutes));
}

AlarmName alarmAt(const Statement& row) {
    return {static_cast<int>(row.integer(0)), static_cast<int>(row.integer(1)),
            static_cast<int>(row.integer(2)), row.text(3)};
}

// The entries with the highest count, at most `most`, in the order they came among equal counts (as a stable
// sort by count would leave them); the others only counted.
template <typename Entry>
class Leaders {
public:
    explicit Leaders(std::size_t most) : most_(most) {}
    void offer(const Entry& entry) {
        const auto at = static_cast<std::size_t>(
            std::upper_bound(kept_.begin(), kept_.end(), entry.count,
                             [](std::int64_t count, const Entry& kept) { return count > kept.count; }) -
            kept_.begin());
        if (kept_.size() == most_) {
            ++left_;
            if (at == kept_.size()) return;
            kept_.pop_back();
        }
        kept_.insert(kept_.begin() + static_cast<std::ptrdiff_t>(at), entry);
    }
    const std::vector<Entry>& kept() const { return kept_; }
    std::int64_t left() const { return left_; }

private:
    std::size_t most_;
    std::vector<Entry> kept_;
    std::int64_t left_ = 0;
};

class Builder {
public:
    Builder(SqliteFile& file, const ReportRequest& request, LineReport& report)
        : file_(file), request_(request), report_(report) {}

    void run() {
        // The sorts spill to temporary files beyond this much memory.
        file_.execute("PRAGMA cache_size = -16000");
        // One read transaction: a panel writing meanwhile cannot make the figures disagree.
        file_.execute("BEGIN");
        file_.requireHistory();
        period();
        file_.execute(kSpans);
        states();
        load();
        alarms();
        keepLineRow(report_);
        if (request_.pictures) timeline();
        // The read transaction ends with the connection.
    }

private:
    void period() {
        Statement span(file_, "SELECT MIN(started), MAX(COALESCE(ended, last_seen)), COUNT(*) FROM runs");
        span.step();
        report_.hasRuns = span.integer(2) > 0;
        historyFrom_ = span.integer(0);
        historyTo_ = span.integer(1);
        report_.from = std::clamp(request_.from.value_or(historyFrom_), kEarliestTime, kLatestTime);
        report_.to = std::clamp(request_.to.value_or(historyTo_), kEarliestTime, kLatestTime);
        if (report_.to < report_.from) report_.to = report_.from;
        Statement latest(file_,
                         "SELECT line, utc_offset FROM runs WHERE started < MAX(:to, :from + 1) "
                         "ORDER BY started DESC LIMIT 1");
        bindPeriod(latest, report_.from, report_.to);
        if (!latest.step()) {
            Statement first(file_, "SELECT line, utc_offset FROM runs ORDER BY started LIMIT 1");
            if (!first.step()) return;
            report_.line = first.text(0);
            report_.utcOffsetMinutes = offsetMinutes(first.integer(1));
            return;
        }
        report_.line = latest.text(0);
        report_.utcOffsetMinutes = offsetMinutes(latest.integer(1));
    }

    void states() {
        std::map<int, SlotFigures> slots;
        std::map<std::tuple<int, int, std::string>, Millis*> timeOf;
        Millis longest = 0;
        {
            Statement query(file_, kStates);
            bindPeriod(query, report_.from, report_.to);
            while (query.step()) {
                const int slot = static_cast<int>(query.integer(0));
                const int status = static_cast<int>(query.integer(1));
                SlotFigures& figures = slots[slot];
                figures.slot = slot;
                longest = std::max(longest, query.integer(6));
                const Millis time = query.integer(3);
                if (status == kFaultStatus) {
                    figures.stops = saturatingSum(figures.stops, query.integer(5));
                    figures.causes.push_back({query.text(2), time, query.integer(4)});
                } else if (status >= 1 && status < kStatusCount) {
                    Millis& total = figures.timeIn[static_cast<std::size_t>(status)];
                    total = saturatingSum(total, time);
                }
            }
        }
        for (auto& [slot, figures] : slots) {
            for (CauseDowntime& cause : figures.causes)
                timeOf[{slot, kFaultStatus, cause.cause}] = &cause.duration;
            for (int status = 1; status < kStatusCount; ++status)
                if (status != kFaultStatus)
                    timeOf[{slot, status, std::string()}] = &figures.timeIn[static_cast<std::size_t>(status)];
        }
        // Intervals left open across a gap: the time in it is no data, whatever the status before.
        Statement inGaps(file_, kStatesInGaps);
        bindPeriod(inGaps, report_.from, report_.to);
        inGaps.bind(":longest", longest);
        while (inGaps.step()) {
            auto time = timeOf.find(
                {static_cast<int>(inGaps.integer(0)), static_cast<int>(inGaps.integer(1)), inGaps.text(2)});
            if (time != timeOf.end()) *time->second = std::max<Millis>(0, *time->second - inGaps.integer(3));
        }
        nameSlots(slots);
        const Millis length = report_.to - report_.from;
        std::map<std::string, CauseDowntime> pareto;
        for (auto& [slot, figures] : slots) {
            for (const CauseDowntime& cause : figures.causes)
                figures.timeIn[kFaultStatus] = saturatingSum(figures.timeIn[kFaultStatus], cause.duration);
            Millis known = 0;
            for (int status = 1; status < kStatusCount; ++status)
                known = saturatingSum(known, figures.timeIn[status]);
            // Status 0, the time outside runs and in gaps: whatever no other status covers.
            figures.timeIn[0] = std::max<Millis>(0, length - known);
            std::sort(figures.causes.begin(), figures.causes.end(), [](const auto& a, const auto& b) {
                return a.duration != b.duration ? a.duration > b.duration : a.cause < b.cause;
            });
            if (slot == history::kLineSlot) continue;
            for (const CauseDowntime& cause : figures.causes) {
                CauseDowntime& total = pareto[cause.cause];
                total.cause = cause.cause;
                total.duration = saturatingSum(total.duration, cause.duration);
                total.count = saturatingSum(total.count, cause.count);
            }
        }
        for (auto& [slot, figures] : slots) report_.slots.push_back(std::move(figures));
        for (auto& [cause, total] : pareto) report_.pareto.push_back(total);
        std::sort(report_.pareto.begin(), report_.pareto.end(), [](const auto& a, const auto& b) {
            return a.duration != b.duration ? a.duration > b.duration : a.cause < b.cause;
        });
    }

    void nameSlots(std::map<int, SlotFigures>& slots) {
        struct Latest {
            Millis started = 0;
            std::int64_t row = 0;
        };
        std::array<std::optional<Latest>, kSlotCount + 1> latest;  // by slot + 1, the line first
        Statement scan(file_, kSlotScan);
        scan.bind(":to", std::max(report_.to, report_.from + 1));
        while (scan.step()) {
            if (scan.integer(0) == 0) {
                ++report_.damaged;
                continue;
            }
            if (scan.integer(2) == 0) continue;
            const Latest found{scan.integer(3), scan.integer(4)};
            std::optional<Latest>& at = latest[static_cast<std::size_t>(scan.integer(1) + 1)];
            if (!at || std::tie(found.started, found.row) > std::tie(at->started, at->row)) at = found;
        }
        Statement name(file_, kSlotName);
        for (auto& [slot, figures] : slots) {
            const std::optional<Latest>& at = latest[static_cast<std::size_t>(slot + 1)];
            if (!at) continue;
            name.reset();
            name.bind(":row", at->row);
            if (name.step()) {
                figures.name = name.text(0);
                figures.foreign = name.integer(1) != 0;
            }
        }
    }

    // The 10-minute windows: aligned to the clock, counted when part of one lies within a run and the
    // period. Their number is bounded by the history's length (52 560 for a year).
    void load() {
        const Millis from = std::max(report_.from, historyFrom_);
        const Millis to = std::min(report_.to, historyTo_);
        if (!report_.hasRuns || to <= from) return;
        const Millis first = from / kLoadWindow;
        const Millis last = (to - 1) / kLoadWindow;
        // A time stamp centuries off (a clock gone wrong) must not ask for gigabytes of windows.
        if (last - first >= kMostWindows)
            throw ReportError(file_.path() + ": the history spans more than 20 years (" +
                              std::to_string(historyFrom_) + " to " + std::to_string(historyTo_) +
                              " ms): a time stamp is wrong; give --from and --to");
        std::vector<std::int64_t> counts(static_cast<std::size_t>(last - first + 1), -1);
        Statement runs(file_,
                       "SELECT MAX(started, :from), MIN(finish, :to) FROM run_span "
                       "WHERE started < :to AND finish > :from");
        bindPeriod(runs, from, to);
        while (runs.step()) {
            const Millis a = runs.integer(0) / kLoadWindow - first;
            const Millis b = (runs.integer(1) - 1) / kLoadWindow - first;
            for (Millis w = std::max<Millis>(a, 0); w <= b && w < static_cast<Millis>(counts.size()); ++w)
                counts[static_cast<std::size_t>(w)] = 0;
        }
        Statement episodes(file_, kEpisodesPerWindow);
        bindPeriod(episodes, report_.from, report_.to);
        episodes.bind(":window", kLoadWindow);
        while (episodes.step()) {
            const Millis w = episodes.integer(0) - first;
            if (w < 0 || w >= static_cast<Millis>(counts.size())) continue;
            std::int64_t& count = counts[static_cast<std::size_t>(w)];
            if (count >= 0) count = episodes.integer(1);
        }
        AlarmLoad& load = report_.load;
        for (std::size_t w = 0; w < counts.size(); ++w) {
            if (counts[w] < 0) continue;
            ++load.windows;
            load.episodes += counts[w];
            if (counts[w] > load.peak) {
                load.peak = counts[w];
                load.peakAt = (first + static_cast<Millis>(w)) * kLoadWindow;
            }
            if (counts[w] > kFloodAbove) ++load.floodWindows;
        }
        if (load.windows > 0)
            load.mean = static_cast<double>(load.episodes) / static_cast<double>(load.windows);
        if (request_.pictures) rateColumns(counts, first * kLoadWindow);
    }

    void rateColumns(const std::vector<std::int64_t>& counts, Millis start) {
        if (counts.empty()) return;
        const std::size_t columns = std::max(1, request_.rateColumns);
        const std::size_t per = (counts.size() + columns - 1) / columns;
        for (std::size_t c = 0; c * per < counts.size(); ++c) {
            RateColumn column{start + static_cast<Millis>(c * per) * kLoadWindow, -1};
            for (std::size_t w = c * per; w < std::min(counts.size(), (c + 1) * per); ++w)
                column.peak = std::max(column.peak, counts[w]);
            report_.rate.push_back(column);
        }
    }

    void alarms() {
        struct Counted {
            AlarmName alarm;
            std::int64_t count = 0;
            Millis last = 0;
        };
        struct Chatter {
            ChatteringAlarm alarm;
            std::int64_t count = 0;
            Millis last = 0;
        };
        // Each alarm's figures are final when the next alarm's rows begin: only the leaders are kept, so
        // that a file of countless alarm numbers costs time, never memory.
        Leaders<Counted> counted(kBadActorCount);
        Leaders<Chatter> chattering(kListedAlarms);
        std::int64_t all = 0;
        {
            Statement episodes(file_, kEpisodesByAlarm);
            bindPeriod(episodes, report_.from, report_.to);
            std::optional<Counted> current;
            ChatteringAlarm chatter;
            auto finish = [&] {
                if (!current) return;
                counted.offer(*current);
                if (chatter.count > 0) chattering.offer({chatter, chatter.count, current->last});
            };
            std::array<Millis, kChatterRaises> recent{};  // the alarm's latest raises, a ring
            while (episodes.step()) {
                const AlarmName alarm{static_cast<int>(episodes.integer(0)),
                                      static_cast<int>(episodes.integer(1)),
                                      static_cast<int>(episodes.integer(2)),
                                      {}};
                const Millis raised = episodes.integer(3);
                if (!current || !(current->alarm == alarm)) {
                    finish();
                    current = Counted{alarm, 0, 0};
                    chatter = {alarm, 0, 0};
                }
                const std::int64_t earlierIndex = current->count - (kChatterRaises - 1);
                if (earlierIndex >= 0) {
                    const Millis earlier = recent[static_cast<std::size_t>(earlierIndex % kChatterRaises)];
                    if (raised - earlier <= kChatterWithin) {
                        if (chatter.count == 0) chatter.first = earlier;
                        ++chatter.count;
                    }
                }
                recent[static_cast<std::size_t>(current->count % kChatterRaises)] = raised;
                ++current->count;
                current->last = raised;
                ++all;
            }
            finish();
        }
        Statement text(file_, kAlarmText);
        auto textOf = [&](const AlarmName& alarm, Millis raised) {
            text.reset();
            text.bind(":raised", raised).bind(":machine", alarm.machine).bind(":table", alarm.table);
            text.bind(":fault", alarm.fault);
            return text.step() ? text.text(0) : std::string();
        };
        for (const Counted& actor : counted.kept()) {
            AlarmName alarm = actor.alarm;
            alarm.text = textOf(alarm, actor.last);
            report_.badActors.push_back(
                {alarm, actor.count, static_cast<double>(actor.count) / static_cast<double>(all)});
        }
        for (const Chatter& chatter : chattering.kept()) {
            report_.chattering.push_back(chatter.alarm);
            report_.chattering.back().alarm.text = textOf(chatter.alarm.alarm, chatter.last);
        }
        report_.chatteringNotListed = chattering.left();

        // Sorted by SQLite, which spills to a temporary file beyond its cache; only the longest are kept.
        Statement standing(file_, kStanding);
        bindPeriod(standing, report_.from, report_.to);
        standing.bind(":longer", kStandingLonger);
        while (standing.step()) {
            if (report_.standing.size() == kListedAlarms) {
                ++report_.standingNotListed;
                continue;
            }
            report_.standing.push_back(
                {alarmAt(standing), standing.integer(4), standing.optionalInteger(5), standing.integer(6)});
        }
    }

    void timeline() {
        const Millis length = report_.to - report_.from;
        if (length <= 0 || report_.slots.empty()) return;
        const Millis columns = std::max(1, request_.timelineColumns);
        const Millis width = std::max<Millis>(1, (length + columns - 1) / columns);
        const Millis count = (length + width - 1) / width;
        report_.timeline.columnWidth = width;
        file_.execute(
            "CREATE TEMP TABLE column_span (b INTEGER PRIMARY KEY, s INTEGER NOT NULL, e INTEGER NOT NULL)");
        {
            Statement insert(file_, "INSERT INTO column_span VALUES (?1, ?2, ?3)");
            for (Millis b = 0; b < count; ++b) {
                insert.bind(1, b)
                    .bind(2, report_.from + b * width)
                    .bind(3, std::min(report_.to, report_.from + (b + 1) * width));
                insert.step();
                insert.reset();
            }
        }
        std::map<int, std::size_t> rowOf;
        for (const SlotFigures& slot : report_.slots) {
            rowOf[slot.slot] = report_.timeline.rows.size();
            report_.timeline.rows.push_back({slot.slot, slot.name, {}, {}});
        }
        const auto columnsCount = static_cast<std::size_t>(count);
        std::vector<std::array<Millis, kStatusCount>> time(rowOf.size() * columnsCount);
        Statement states(file_, kTimelineStates);
        bindPeriod(states, report_.from, report_.to);
        states.bind(":width", width);
        while (states.step()) {
            auto row = rowOf.find(static_cast<int>(states.integer(0)));
            const auto column = static_cast<std::size_t>(states.integer(1));
            const std::int64_t status = states.integer(2);
            if (row == rowOf.end() || column >= columnsCount || status < 0 || status >= kStatusCount)
                continue;
            Millis& total = time[row->second * columnsCount + column][static_cast<std::size_t>(status)];
            total = saturatingSum(total, states.integer(3));
        }
        std::vector<Millis> gapTime(columnsCount, 0);
        Statement gaps(file_, kTimelineGaps);
        bindPeriod(gaps, report_.from, report_.to);
        gaps.bind(":width", width);
        while (gaps.step()) {
            const auto column = static_cast<std::size_t>(gaps.integer(0));
            if (column < columnsCount) gapTime[column] = saturatingSum(gapTime[column], gaps.integer(1));
        }
        for (std::size_t r = 0; r < rowOf.size(); ++r) {
            std::vector<std::uint8_t>& status = report_.timeline.rows[r].status;
            std::vector<std::array<float, kStatusCount>>& share = report_.timeline.rows[r].share;
            status.resize(columnsCount);
            share.resize(columnsCount);
            for (std::size_t c = 0; c < columnsCount; ++c) {
                std::array<Millis, kStatusCount>& t = time[r * columnsCount + c];
                const Millis span = std::min(report_.to, report_.from + static_cast<Millis>(c + 1) * width) -
                                    (report_.from + static_cast<Millis>(c) * width);
                Millis known = 0;
                for (int s = 1; s < kStatusCount; ++s) known = saturatingSum(known, t[s]);
                // What a gap took of the column is no data, taken from the known statuses alike.
                const double kept =
                    known == 0
                        ? 0.0
                        : static_cast<double>(std::min(known, std::max<Millis>(0, span - gapTime[c]))) /
                              static_cast<double>(known);
                float rest = 1.0f;
                for (int s = 1; s < kStatusCount; ++s) {
                    share[c][s] =
                        static_cast<float>(static_cast<double>(t[s]) * kept / static_cast<double>(span));
                    rest -= share[c][s];
                }
                share[c][0] = std::max(0.0f, rest);
                t[0] = span - known;
                // A column at least half in a gap shows no data, whatever status was last known; a tie
                // goes to the lower status code.
                if (gapTime[c] >= span - gapTime[c]) {
                    status[c] = 0;
                    continue;
                }
                status[c] = static_cast<std::uint8_t>(std::max_element(t.begin(), t.end()) - t.begin());
            }
        }
    }

    SqliteFile& file_;
    const ReportRequest& request_;
    LineReport& report_;
    Millis historyFrom_ = 0;
    Millis historyTo_ = 0;
};

}  // namespace

LineReport reportOn(const std::string& path, const ReportRequest& request) {
    SqliteFile file(path, request.busyMillis);
    LineReport report;
    report.file = path;
    Builder(file, request, report).run();
    file.requireUnchanged();
    return report;
}

}  // namespace orvanta::report
