#include <algorithm>
#include <cstdio>
#include <string_view>
#include <utility>

#include "linepicture/line_picture.h"
#include "report/report_time.h"
#include "report/report_writers.h"

namespace orvanta::report {

namespace {

// A cell of the report: its own numbers and times as written, or a text from the file.
struct Cell {
    Cell(std::string text) : value(std::move(text)) {}  // NOLINT: a plain cell from every string
    Cell(const char* text) : value(text) {}             // NOLINT
    std::string value;
    bool quoted = false;
};

// A text from the history file (a name, a cause, an alarm text, the file's own name) that a spreadsheet
// would run as a formula or a command (=, +, -, @, and tab and carriage return, which some take for the
// start of one) gets a quote in front, which the spreadsheet shows as text, and is quoted (OWASP, CSV
// injection). The report's own numbers are never guarded: a negative one stays a number.
Cell text(const std::string& value) {
    if (value.empty() || std::string_view("=+-@\t\r").find(value.front()) == std::string_view::npos)
        return value;
    Cell cell("'" + value);
    cell.quoted = true;
    return cell;
}

// RFC 4180: a field with a comma, quote or line break is quoted, its quotes doubled.
std::string field(const Cell& cell) {
    if (!cell.quoted && cell.value.find_first_of(",\"\r\n") == std::string::npos) return cell.value;
    std::string quoted = "\"";
    for (const char c : cell.value) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

void row(std::ostream& out, const std::vector<Cell>& cells) {
    for (std::size_t i = 0; i < cells.size(); ++i) out << (i > 0 ? "," : "") << field(cells[i]);
    out << "\r\n";
}

std::string number(double value, int decimals) { return formatFixed(value, decimals); }

std::string optionalSeconds(const std::optional<Millis>& value) { return value ? formatSeconds(*value) : ""; }

// Times as UTC in ISO form, which a spreadsheet reads without a zone to guess.
std::string isoUtc(Millis at) {
    std::string text = formatTime(at, 0);
    text[10] = 'T';
    return text + "Z";
}

// An own machine's number; empty for none.
std::string machineNumber(int machine) { return machine == 0 ? std::string() : std::to_string(machine); }

}  // namespace

void writeCsv(std::ostream& out, const std::vector<LineReport>& lines) {
    std::vector<Cell> header{"figure", "line", "file", "from", "to", "slot", "machine", "name", "foreign"};
    for (int s = 1; s < kStatusCount; ++s) header.push_back(std::string(statusName(s)) + " s");
    header.insert(header.end(), {"no data s", "availability", "stops", "MTBF s", "MTTR s"});
    row(out, header);
    for (const LineReport& r : lines)
        for (const SlotFigures& slot : r.slots) {
            std::vector<Cell> cells{"states",
                                    text(r.line),
                                    text(r.file),
                                    isoUtc(r.from),
                                    isoUtc(r.to),
                                    std::to_string(slot.slot),
                                    machineNumber(slot.machine),
                                    text(slot.name),
                                    slot.foreign ? "1" : "0"};
            for (int s = 1; s < kStatusCount; ++s) cells.push_back(formatSeconds(slot.timeIn[s]));
            const std::optional<double> availability = slot.availability();
            cells.insert(
                cells.end(),
                {formatSeconds(slot.timeIn[0]), availability ? number(*availability, 6) : "",
                 std::to_string(slot.stops), optionalSeconds(slot.mtbf()), optionalSeconds(slot.mttr())});
            row(out, cells);
        }

    out << "\r\n";
    row(out, {"figure", "line", "slot", "machine", "name", "rank", "alarm machine", "alarm table", "fault",
              "text key", "cause", "downtime s", "count"});
    for (const LineReport& r : lines)
        for (const SlotFigures& slot : r.slots)
            for (std::size_t i = 0; i < slot.causes.size(); ++i) {
                const CauseDowntime& cause = slot.causes[i];
                const bool alarm = cause.cause.machine != 0;
                row(out, {"downtime", text(r.line), std::to_string(slot.slot), machineNumber(slot.machine),
                          text(slot.name), std::to_string(i + 1), machineNumber(cause.cause.machine),
                          alarm ? std::to_string(cause.cause.table) : "",
                          alarm ? std::to_string(cause.cause.fault) : "", text(cause.cause.textKey),
                          text(alarm ? cause.cause.text : causeLabel(cause.cause)),
                          formatSeconds(cause.duration), std::to_string(cause.count)});
            }

    out << "\r\n";
    row(out, {"figure", "line", "episodes", "windows", "mean per 10 min", "peak per 10 min", "peak at",
              "flood windows", "flood share"});
    for (const LineReport& r : lines)
        row(out, {"alarm load", text(r.line), std::to_string(r.load.episodes), std::to_string(r.load.windows),
                  number(r.load.mean, 4), std::to_string(r.load.peak),
                  r.load.peak > 0 ? isoUtc(r.load.peakAt) : "", std::to_string(r.load.floodWindows),
                  number(r.load.floodShare(), 6)});

    out << "\r\n";
    row(out, {"figure", "line", "rank", "machine", "table", "fault", "text", "count", "share"});
    for (const LineReport& r : lines)
        for (std::size_t i = 0; i < r.badActors.size(); ++i) {
            const BadActor& a = r.badActors[i];
            row(out, {"bad actors", text(r.line), std::to_string(i + 1), std::to_string(a.alarm.machine),
                      std::to_string(a.alarm.table), std::to_string(a.alarm.fault), text(a.alarm.text),
                      std::to_string(a.count), number(a.share, 6)});
        }

    out << "\r\n";
    row(out, {"figure", "line", "machine", "table", "fault", "text", "count", "first"});
    for (const LineReport& r : lines)
        for (const ChatteringAlarm& a : r.chattering)
            row(out, {"chattering", text(r.line), std::to_string(a.alarm.machine),
                      std::to_string(a.alarm.table), std::to_string(a.alarm.fault), text(a.alarm.text),
                      std::to_string(a.count), isoUtc(a.first)});
    // The list is cut to the worst: a row in the text column says how many more there were.
    for (const LineReport& r : lines)
        if (r.chatteringNotListed > 0)
            row(out, {"chattering", text(r.line), "", "", "", chatteringNotListedText(r), "", ""});

    out << "\r\n";
    row(out, {"figure", "line", "machine", "table", "fault", "text", "raised", "cleared", "active s"});
    for (const LineReport& r : lines)
        for (const StandingAlarm& a : r.standing)
            row(out, {"standing", text(r.line), std::to_string(a.alarm.machine),
                      std::to_string(a.alarm.table), std::to_string(a.alarm.fault), text(a.alarm.text),
                      isoUtc(a.raised), a.cleared ? isoUtc(*a.cleared) : "", formatSeconds(a.active)});
    for (const LineReport& r : lines)
        if (r.standingNotListed > 0)
            row(out, {"standing", text(r.line), "", "", "", standingNotListedText(r), "", "", ""});

    // Only a damaged file has this table: a spreadsheet of sound files keeps its layout.
    if (std::none_of(lines.begin(), lines.end(), [](const LineReport& r) { return r.damaged > 0; })) return;
    out << "\r\n";
    row(out, {"figure", "line", "file", "damaged state intervals"});
    for (const LineReport& r : lines)
        row(out, {"damaged", text(r.line), text(r.file), std::to_string(r.damaged)});
}

}  // namespace orvanta::report

namespace orvanta::report {

namespace {

std::string optionalIso(const std::optional<Millis>& at) { return at ? isoUtc(*at) : std::string(); }

}  // namespace

// Two readings of each file, one per table, so that neither table waits in memory for the other.
void writeEventsCsv(std::ostream& out, const std::vector<std::string>& files, const ReportRequest& request,
                    const std::function<void(const std::string& file, const std::exception& error)>& failed) {
    row(out, {"figure", "line", "stop", "slot", "machine", "name", "began", "ended", "downtime s",
              "alarm machine", "alarm table", "fault", "text key", "cause"});
    for (const std::string& file : files) {
        try {
            reportEvents(
                file, request,
                [&](const std::string& line, const StopPart& part) {
                    const bool alarm = part.cause.machine != 0;
                    row(out,
                        {"stop", text(line), std::to_string(part.stop), std::to_string(part.slot),
                         machineNumber(part.machine), text(part.name), isoUtc(part.began), isoUtc(part.ended),
                         formatSeconds(part.downtime), machineNumber(part.cause.machine),
                         alarm ? std::to_string(part.cause.table) : "",
                         alarm ? std::to_string(part.cause.fault) : "", text(part.cause.textKey),
                         text(alarm ? part.cause.text : causeLabel(part.cause))});
                },
                {});
        } catch (const std::exception& error) {
            failed(file, error);
        }
    }
    out << "\r\n";
    row(out, {"figure", "line", "machine", "table", "fault", "text key", "text", "priority", "raised",
              "published", "echoed", "cleared", "active s", "counted"});
    for (const std::string& file : files) {
        try {
            reportEvents(file, request, {}, [&](const std::string& line, const EpisodeEvent& episode) {
                const AlarmName& alarm = episode.alarm;
                row(out,
                    {"episode", text(line), std::to_string(alarm.machine), std::to_string(alarm.table),
                     std::to_string(alarm.fault), text(alarm.textKey), text(alarm.text),
                     std::to_string(episode.priority), isoUtc(episode.raised), optionalIso(episode.published),
                     optionalIso(episode.echoed), optionalIso(episode.cleared),
                     episode.cleared ? formatSeconds(*episode.cleared - episode.raised) : "",
                     episode.counted ? "1" : "0"});
            });
        } catch (const std::exception&) {
            // Said once, with the stops.
        }
    }
}

}  // namespace orvanta::report
