#include "report/line_report.h"

#include <algorithm>
#include <map>

#include "report/alarm_texts.h"
#include "report/empty_period.h"
#include "report/line_replay.h"
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

void bindPeriod(Statement& statement, Millis from, Millis to) {
    statement.bind(":from", from).bind(":to", to);
}

int offsetMinutes(std::int64_t recorded) {
    return static_cast<int>(std::clamp<std::int64_t>(recorded, -kMostOffsetMinutes, kMostOffsetMinutes));
}

// Where an export of the events hands them.
struct EventsOut {
    const StopPartOut& stopPart;
    const EpisodeOut& episode;
};

class Builder {
public:
    Builder(SqliteFile& file, const ReportRequest& request, LineReport& report,
            const EventsOut* events = nullptr)
        : file_(file), request_(request), report_(report), events_(events) {}

    void run() {
        std::optional<LanguageWish> wish;
        if (!request_.language.empty()) {
            wish = parseLanguage(request_.language);
            if (!wish) throw ReportError("not a language: " + request_.language + " (a code as de, or 1031)");
        }
        // The sorts spill to temporary files beyond this much memory.
        file_.execute("PRAGMA cache_size = -16000");
        // One read transaction: a panel writing meanwhile cannot make the figures disagree.
        file_.execute("BEGIN");
        version_ = file_.requireHistory();
        texts_.emplace(file_, version_, wish);
        period();
        file_.execute(kSpans);
        replay();
        keepLineRow(report_);
        if (request_.pictures && events_ == nullptr) timeline();
        // The read transaction ends with the connection.
    }

private:
    void period() {
        Statement span(file_, "SELECT MIN(started), MAX(COALESCE(ended, last_seen)), COUNT(*) FROM runs");
        span.step();
        report_.hasRuns = span.integer(2) > 0;
        report_.from = std::clamp(request_.from.value_or(span.integer(0)), kEarliestTime, kLatestTime);
        report_.to = std::clamp(request_.to.value_or(span.integer(1)), kEarliestTime, kLatestTime);
        if (report_.to < report_.from) report_.to = report_.from;
        const char* zone = version_ >= 2 ? "time_zone" : "''";
        const std::string columns = std::string("SELECT line, utc_offset, ") + zone + " FROM runs ";
        Statement latest(
            file_, (columns + "WHERE started < MAX(:to, :from + 1) ORDER BY started DESC LIMIT 1").c_str());
        bindPeriod(latest, report_.from, report_.to);
        Statement first(file_, (columns + "ORDER BY started LIMIT 1").c_str());
        Statement& named = latest.step() ? latest : first;
        if (&named == &first && !first.step()) return;
        report_.line = named.text(0);
        report_.utcOffsetMinutes = offsetMinutes(named.integer(1));
        report_.zone = ZoneOffsets::load(named.text(2));
        if (report_.zone) report_.timeZone = named.text(2);
    }

    // Everything that follows the line through time, from one replay of the runs in the period.
    void replay() {
        std::vector<RunSpan> runs;
        {
            Statement query(
                file_,
                "SELECT run, started, finish FROM run_span WHERE started < :to AND finish >= :from "
                "ORDER BY started, run");
            bindPeriod(query, report_.from, std::max(report_.to, report_.from + 1));
            while (query.step()) runs.push_back({query.integer(0), query.integer(1), query.integer(2), {}});
        }
        {
            std::map<std::int64_t, RunSpan*> byRun;
            for (RunSpan& span : runs) byRun[span.run] = &span;
            Statement gaps(file_, "SELECT run, started, finish FROM gap_span ORDER BY run, started");
            while (gaps.step()) {
                auto span = byRun.find(gaps.integer(0));
                if (span != byRun.end()) span->second->gaps.emplace_back(gaps.integer(1), gaps.integer(2));
            }
        }
        ReplayRequest replay{report_.from, report_.to, report_.utcOffsetMinutes, version_, {}, {}};
        if (events_ != nullptr && events_->stopPart)
            replay.stopParts = [&](StopPart& part) {
                texts_->name(part.cause);
                events_->stopPart(report_.line, part);
            };
        if (events_ != nullptr && events_->episode)
            replay.episodes = [&](EpisodeEvent& episode) {
                texts_->name(episode.alarm);
                events_->episode(report_.line, episode);
            };
        ReplayResult result = replayRuns(file_, runs, replay);
        report_.slots = std::move(result.slots);
        report_.pareto = std::move(result.pareto);
        report_.damaged = result.damaged;
        report_.alarmsNotTold = result.alarmsNotTold;
        report_.load = result.load;
        report_.badActors = std::move(result.badActors);
        report_.chattering = std::move(result.chattering);
        report_.chatteringNotListed = result.chatteringNotListed;
        report_.standing = std::move(result.standing);
        report_.standingNotListed = result.standingNotListed;
        if (request_.pictures) rateColumns(result.windowCounts, result.windowStart);
        nameAlarms();
    }

    void nameAlarms() {
        for (SlotFigures& slot : report_.slots)
            for (CauseDowntime& cause : slot.causes) texts_->name(cause.cause);
        for (CauseDowntime& cause : report_.pareto) texts_->name(cause.cause);
        for (BadActor& actor : report_.badActors) texts_->name(actor.alarm);
        for (ChatteringAlarm& alarm : report_.chattering) texts_->name(alarm.alarm);
        for (StandingAlarm& alarm : report_.standing) texts_->name(alarm.alarm);
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
    const EventsOut* events_;
    std::optional<AlarmTexts> texts_;
    int version_ = 0;
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

void reportEvents(const std::string& path, const ReportRequest& request, const StopPartOut& stopPart,
                  const EpisodeOut& episode) {
    SqliteFile file(path, request.busyMillis);
    LineReport report;
    report.file = path;
    const EventsOut events{stopPart, episode};
    Builder(file, request, report, &events).run();
    file.requireUnchanged();
}

}  // namespace orvanta::report
