#include <cstdio>

#include "linepicture/line_picture.h"
#include "report/report_time.h"
#include "report/report_writers.h"

namespace orvanta::report {

namespace {

// RFC 4180: a field with a comma, quote or line break is quoted, its quotes doubled.
std::string field(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (const char c : text) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

void row(std::ostream& out, const std::vector<std::string>& cells) {
    for (std::size_t i = 0; i < cells.size(); ++i) out << (i > 0 ? "," : "") << field(cells[i]);
    out << "\r\n";
}

std::string number(double value, const char* format) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, format, value);
    return buffer;
}

std::string optionalSeconds(const std::optional<Millis>& value) { return value ? formatSeconds(*value) : ""; }

// Times as UTC in ISO form, which a spreadsheet reads without a zone to guess.
std::string isoUtc(Millis at) {
    std::string text = formatTime(at, 0);
    text[10] = 'T';
    return text + "Z";
}

}  // namespace

void writeCsv(std::ostream& out, const std::vector<LineReport>& lines) {
    std::vector<std::string> header{"figure", "line", "file", "from", "to", "slot", "machine", "foreign"};
    for (int s = 1; s < kStatusCount; ++s) header.push_back(std::string(statusName(s)) + " s");
    header.insert(header.end(), {"no data s", "availability", "stops", "MTBF s", "MTTR s"});
    row(out, header);
    for (const LineReport& r : lines)
        for (const SlotFigures& slot : r.slots) {
            std::vector<std::string> cells{"states",     r.line,
                                           r.file,       isoUtc(r.from),
                                           isoUtc(r.to), std::to_string(slot.slot),
                                           slot.name,    slot.foreign ? "1" : "0"};
            for (int s = 1; s < kStatusCount; ++s) cells.push_back(formatSeconds(slot.timeIn[s]));
            const std::optional<double> availability = slot.availability();
            cells.insert(
                cells.end(),
                {formatSeconds(slot.timeIn[0]), availability ? number(*availability, "%.6f") : "",
                 std::to_string(slot.stops), optionalSeconds(slot.mtbf()), optionalSeconds(slot.mttr())});
            row(out, cells);
        }

    out << "\r\n";
    row(out, {"figure", "line", "slot", "machine", "rank", "cause", "downtime s", "count"});
    for (const LineReport& r : lines)
        for (const SlotFigures& slot : r.slots)
            for (std::size_t i = 0; i < slot.causes.size(); ++i)
                row(out, {"downtime", r.line, std::to_string(slot.slot), slot.name, std::to_string(i + 1),
                          slot.causes[i].cause, formatSeconds(slot.causes[i].duration),
                          std::to_string(slot.causes[i].count)});

    out << "\r\n";
    row(out, {"figure", "line", "episodes", "windows", "mean per 10 min", "peak per 10 min", "peak at",
              "flood windows", "flood share"});
    for (const LineReport& r : lines)
        row(out, {"alarm load", r.line, std::to_string(r.load.episodes), std::to_string(r.load.windows),
                  number(r.load.mean, "%.4f"), std::to_string(r.load.peak),
                  r.load.peak > 0 ? isoUtc(r.load.peakAt) : "", std::to_string(r.load.floodWindows),
                  number(r.load.floodShare(), "%.6f")});

    out << "\r\n";
    row(out, {"figure", "line", "rank", "machine", "table", "fault", "text", "count", "share"});
    for (const LineReport& r : lines)
        for (std::size_t i = 0; i < r.badActors.size(); ++i) {
            const BadActor& a = r.badActors[i];
            row(out, {"bad actors", r.line, std::to_string(i + 1), std::to_string(a.alarm.machine),
                      std::to_string(a.alarm.table), std::to_string(a.alarm.fault), a.alarm.text,
                      std::to_string(a.count), number(a.share, "%.6f")});
        }

    out << "\r\n";
    row(out, {"figure", "line", "machine", "table", "fault", "text", "count", "first"});
    for (const LineReport& r : lines)
        for (const ChatteringAlarm& a : r.chattering)
            row(out, {"chattering", r.line, std::to_string(a.alarm.machine), std::to_string(a.alarm.table),
                      std::to_string(a.alarm.fault), a.alarm.text, std::to_string(a.count), isoUtc(a.first)});

    out << "\r\n";
    row(out, {"figure", "line", "machine", "table", "fault", "text", "raised", "cleared", "active s"});
    for (const LineReport& r : lines)
        for (const StandingAlarm& a : r.standing)
            row(out, {"standing", r.line, std::to_string(a.alarm.machine), std::to_string(a.alarm.table),
                      std::to_string(a.alarm.fault), a.alarm.text, isoUtc(a.raised),
                      a.cleared ? isoUtc(*a.cleared) : "", formatSeconds(a.active)});
}

}  // namespace orvanta::report
