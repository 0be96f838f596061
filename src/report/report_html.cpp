#include <algorithm>
#include <cmath>
#include <cstdio>

#include "linepicture/line_picture.h"
#include "report/report_time.h"
#include "report/report_writers.h"
#include "report/svg_writer.h"

namespace orvanta::report {

namespace {

constexpr double kWidth = 1000;
constexpr double kLabelWidth = 190;
constexpr double kPlotWidth = kWidth - kLabelWidth - 50;
constexpr std::size_t kParetoBars = 12;

std::string colour(int status) {
    const Rgb c = statusColour(status);
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "#%02X%02X%02X", c.red, c.green, c.blue);
    return buffer;
}

std::string h(const std::string& text) { return escapeXml(text); }

std::string percent(double share) { return formatFixed(share * 100.0, 1) + " %"; }

// Time labels under a picture that spans [from, to).
void timeAxis(SvgWriter& svg, double y, const LineReport& r) {
    const Millis from = r.from;
    const Millis to = r.to;
    constexpr int kTicks = 5;
    for (int i = 0; i <= kTicks; ++i) {
        const double x = kLabelWidth + kPlotWidth * i / kTicks;
        const Millis at = from + (to - from) * i / kTicks;
        svg.line(x, y - 4, x, y, "#666");
        std::string label = localTime(r, at).substr(0, 16);
        svg.text(x, y + 13, label, i == 0 ? "start" : i == kTicks ? "end" : "middle", 10);
    }
}

std::string timelineSvg(const LineReport& r) {
    const Timeline& t = r.timeline;
    constexpr double kRow = 22;
    const double height = 14 + kRow * static_cast<double>(t.rows.size()) + 52;
    SvgWriter svg(kWidth, height, "States of each machine slot over the period");
    double y = 10;
    for (const Timeline::Row& row : t.rows) {
        const auto slot = std::find_if(r.slots.begin(), r.slots.end(),
                                       [&](const SlotFigures& figures) { return figures.slot == row.slot; });
        const std::string label = slot != r.slots.end() ? slotLabel(*slot) : row.name;
        svg.text(kLabelWidth - 8, y + 15, label.substr(0, 30), "end", 11);
        const std::size_t n = row.status.size();
        const double height = kRow - 4;
        // A column that holds one status (nearly) throughout joins its like neighbours in one rectangle;
        // a mixed one is a stack of its statuses' shares, fault at the bottom: a year stays a bounded
        // number of shapes per row.
        auto pure = [&](std::size_t c) {
            return c < row.share.size() ? *std::max_element(row.share[c].begin(), row.share[c].end()) >= 0.98f
                                        : true;
        };
        for (std::size_t c = 0; c < n;) {
            const double x = kLabelWidth + kPlotWidth * static_cast<double>(c) / static_cast<double>(n);
            if (!pure(c)) {
                const double w = kPlotWidth / static_cast<double>(n);
                double bottom = y + height;
                for (const int s : {4, 5, 6, 3, 2, 1, 0}) {
                    const double h = height * row.share[c][static_cast<std::size_t>(s)];
                    if (h < 0.25) continue;
                    svg.rect(x, bottom - h, w, h, colour(s));
                    bottom -= h;
                }
                ++c;
                continue;
            }
            std::size_t end = c;
            while (end < n && pure(end) && row.status[end] == row.status[c]) ++end;
            const double w = kPlotWidth * static_cast<double>(end - c) / static_cast<double>(n);
            svg.rect(x, y, w, height, colour(row.status[c]), std::string(statusName(row.status[c])));
            c = end;
        }
        y += kRow;
    }
    timeAxis(svg, y + 4, r);
    double x = kLabelWidth;
    for (int s = 0; s < kStatusCount; ++s) {
        svg.rect(x, y + 26, 12, 12, colour(s));
        svg.text(x + 16, y + 36, std::string(statusName(s)), "start", 11);
        x += 104;
    }
    return svg.finish();
}

std::string rateSvg(const LineReport& r) {
    constexpr double kTop = 14;
    constexpr double kPlot = 180;
    SvgWriter svg(kWidth, kTop + kPlot + 40, "Alarms per 10 minutes with the flood limit");
    std::int64_t top = kFloodAbove + 2;
    for (const RateColumn& c : r.rate) top = std::max(top, c.peak);
    auto yOf = [&](double value) { return kTop + kPlot - kPlot * value / static_cast<double>(top); };
    for (int i = 0; i <= 4; ++i) {
        const double value = std::round(static_cast<double>(top) * i / 4.0);
        svg.line(kLabelWidth, yOf(value), kLabelWidth + kPlotWidth, yOf(value), "#e4e4e4");
        svg.text(kLabelWidth - 6, yOf(value) + 4, std::to_string(static_cast<long long>(value)), "end", 10);
    }
    svg.text(12, kTop + kPlot / 2, "alarms / 10 min", "middle", 11, -90);
    const double n = static_cast<double>(std::max<std::size_t>(1, r.rate.size()));
    for (std::size_t i = 0; i < r.rate.size(); ++i) {
        const double x = kLabelWidth + kPlotWidth * static_cast<double>(i) / n;
        const double w = std::max(kPlotWidth / n - (r.rate.size() < 200 ? 1.0 : 0.0), 0.5);
        if (r.rate[i].peak < 0) {
            svg.rect(x, kTop, w, kPlot, "#f1f1f1");
            continue;
        }
        const double value = static_cast<double>(r.rate[i].peak);
        const std::string fill = r.rate[i].peak > kFloodAbove ? colour(4) : "#3A6EA5";
        if (value > 0)
            svg.rect(x, yOf(value), w, kTop + kPlot - yOf(value), fill, std::to_string(r.rate[i].peak));
    }
    const double limit = yOf(static_cast<double>(kFloodAbove));
    svg.line(kLabelWidth, limit, kLabelWidth + kPlotWidth, limit, colour(4), 1.5, true);
    svg.text(kLabelWidth + kPlotWidth, limit - 4, "flood: more than 10 in 10 minutes", "end", 10, 0,
             colour(4));
    svg.line(kLabelWidth, kTop + kPlot, kLabelWidth + kPlotWidth, kTop + kPlot, "#666");
    timeAxis(svg, kTop + kPlot + 4, r);
    return svg.finish();
}

std::string paretoSvg(const LineReport& r) {
    std::vector<CauseDowntime> bars(r.pareto.begin(),
                                    r.pareto.begin() + std::min(r.pareto.size(), kParetoBars));
    if (r.pareto.size() > kParetoBars) {
        CauseDowntime other{{0, 0, 0, {}, "(all other causes)"}, 0, 0};
        for (std::size_t i = kParetoBars; i < r.pareto.size(); ++i) {
            other.duration += r.pareto[i].duration;
            other.count += r.pareto[i].count;
        }
        bars.push_back(other);
    }
    constexpr double kTop = 16;
    constexpr double kPlot = 200;
    SvgWriter svg(kWidth, kTop + kPlot + 150, "Downtime by cause, with the cumulative share");
    Millis total = 0;
    Millis highest = 1;
    for (const CauseDowntime& bar : bars) {
        total += bar.duration;
        highest = std::max(highest, bar.duration);
    }
    svg.line(kLabelWidth, kTop + kPlot, kLabelWidth + kPlotWidth, kTop + kPlot, "#666");
    svg.text(kLabelWidth - 6, kTop + 4, formatDuration(highest), "end", 10);
    svg.text(kLabelWidth - 6, kTop + kPlot, "0:00:00", "end", 10);
    svg.text(kLabelWidth + kPlotWidth + 4, kTop + 4, "100 %", "start", 10, 0, "#333");
    if (bars.empty()) {
        svg.text(kLabelWidth + kPlotWidth / 2, kTop + kPlot / 2, "no downtime in the period", "middle", 13);
        return svg.finish();
    }
    const double slot = kPlotWidth / static_cast<double>(bars.size());
    std::vector<std::pair<double, double>> cumulative;
    Millis sum = 0;
    for (std::size_t i = 0; i < bars.size(); ++i) {
        const double x = kLabelWidth + slot * static_cast<double>(i);
        const double height = kPlot * static_cast<double>(bars[i].duration) / static_cast<double>(highest);
        svg.rect(x + slot * 0.15, kTop + kPlot - height, slot * 0.7, height, colour(4),
                 causeLabel(bars[i].cause) + ": " + formatDuration(bars[i].duration) + ", " +
                     std::to_string(bars[i].count) + " times");
        sum += bars[i].duration;
        const double share = total == 0 ? 0 : static_cast<double>(sum) / static_cast<double>(total);
        cumulative.emplace_back(x + slot / 2, kTop + kPlot - kPlot * share);
        // Under the bar: the machine and the text, cut between two characters.
        const AlarmName& cause = bars[i].cause;
        std::string label =
            cause.machine == 0 ? causeLabel(cause) : "M" + std::to_string(cause.machine) + " " + cause.text;
        if (label.size() > 28) {
            std::size_t cut = 27;
            while (cut > 0 && (static_cast<unsigned char>(label[cut]) & 0xC0) == 0x80) --cut;
            label = label.substr(0, cut) + "...";
        }
        svg.text(x + slot / 2, kTop + kPlot + 12, label, "end", 10, -35);
    }
    svg.polyline(cumulative, "#222", 1.5);
    for (const auto& [x, y] : cumulative) svg.circle(x, y, 2.5, "#222");
    return svg.finish();
}

void table(std::ostream& out, const std::vector<std::string>& header,
           const std::vector<std::vector<std::string>>& rows) {
    out << "<table><tr>";
    for (const std::string& cell : header) out << "<th>" << h(cell) << "</th>";
    out << "</tr>\n";
    for (const auto& row : rows) {
        out << "<tr>";
        for (const std::string& cell : row) out << "<td>" << h(cell) << "</td>";
        out << "</tr>\n";
    }
    if (rows.empty()) out << "<tr><td colspan=\"" << header.size() << "\">none</td></tr>\n";
    out << "</table>\n";
}

void writeLine(std::ostream& out, const LineReport& r) {
    out << "<section>\n<h2>Line " << h(r.line.empty() ? "(unnamed)" : r.line) << "</h2>\n";
    out << "<p class=\"period\">" << h(r.periodName.empty() ? "" : r.periodName + ": ")
        << h(localTime(r, r.from)) << " to " << h(localTime(r, r.to)) << " ("
        << h(formatDuration(r.to - r.from)) << "), the line's local time " << h(zoneText(r)) << "; file "
        << h(r.file) << "</p>\n";
    if (!r.hasRuns) {
        out << "<p>The file holds no runs of the panel.</p>\n";
    } else if (r.noRecords) {
        out << "<p>" << h(kNoRecordsText) << "</p>\n";
    }
    if (r.damaged > 0) out << "<p class=\"damaged\">" << h(damagedText(r)) << "</p>\n";
    if (r.alarmsNotTold > 0) out << "<p class=\"damaged\">" << h(alarmsNotToldText(r)) << "</p>\n";

    out << "<h3>States over the period</h3>\n" << timelineSvg(r);
    out << "<h3>Time in each state, availability and stops</h3>\n";
    std::vector<std::vector<std::string>> rows;
    for (const SlotFigures& slot : r.slots) rows.push_back(stateTableRow(slot));
    table(out, stateTableHeader(), rows);
    out << "<p class=\"legend\">" << h(kAvailabilityLegend) << ".<br>" << h(kStopLegend) << ".<br>"
        << h(kNoDataLegend) << ".</p>\n";

    out << "<h3>Downtime by cause</h3>\n" << paretoSvg(r);
    rows.clear();
    for (const SlotFigures& slot : r.slots)
        for (const CauseDowntime& cause : slot.causes)
            rows.push_back({slotLabel(slot), causeLabel(cause.cause), formatDuration(cause.duration),
                            std::to_string(cause.count)});
    table(out, {"slot", "cause", "downtime", "count"}, rows);
    out << "<p class=\"legend\">" << h(kCauseLegend) << ".</p>\n";

    out << "<h3>Alarm load per 10 minutes</h3>\n" << rateSvg(r);
    const std::string mean = formatFixed(r.load.mean, 2);
    table(out, {"episodes", "windows", "mean", "peak", "peak at", "windows in flood", "flood share"},
          {{std::to_string(r.load.episodes), std::to_string(r.load.windows), mean,
            std::to_string(r.load.peak), r.load.peak > 0 ? localTime(r, r.load.peakAt) : "-",
            std::to_string(r.load.floodWindows), percent(r.load.floodShare())}});
    out << "<p class=\"legend\">" << h(kLoadLegend) << ".";
    // A long period puts several windows in one bar: the bar is the highest of them.
    if (r.rate.size() > 1 && r.rate[1].start - r.rate[0].start > kLoadWindow)
        out << " Each bar: the highest of " << (r.rate[1].start - r.rate[0].start) / kLoadWindow
            << " windows; grey: no run.";
    out << "</p>\n";

    out << "<h3>Bad actors</h3>\n";
    rows.clear();
    for (const BadActor& a : r.badActors)
        rows.push_back({alarmLabel(a.alarm), a.alarm.text, std::to_string(a.count), percent(a.share)});
    table(out, {"alarm", "text", "count", "share"}, rows);

    out << "<h3>Chattering alarms</h3>\n";
    rows.clear();
    for (const ChatteringAlarm& a : r.chattering)
        rows.push_back({alarmLabel(a.alarm), a.alarm.text, std::to_string(a.count), localTime(r, a.first)});
    table(out, {"alarm", "text", "count", "first"}, rows);
    if (r.chatteringNotListed > 0) out << "<p>" << h(chatteringNotListedText(r)) << "</p>\n";
    out << "<p class=\"legend\">" << h(kChatterLegend) << ".</p>\n";

    out << "<h3>Standing alarms</h3>\n";
    rows.clear();
    for (const StandingAlarm& a : r.standing)
        rows.push_back({alarmLabel(a.alarm), a.alarm.text, localTime(r, a.raised),
                        a.cleared ? localTime(r, *a.cleared) : "open", formatDuration(a.active)});
    table(out, {"alarm", "text", "raised", "cleared", "active"}, rows);
    if (r.standingNotListed > 0) out << "<p>" << h(standingNotListedText(r)) << "</p>\n";
    out << "<p class=\"legend\">" << h(kStandingLegend) << ".</p>\n</section>\n";
}

}  // namespace

void writeHtml(std::ostream& out, const std::vector<LineReport>& lines) {
    out << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
           "<title>Orvanta line history</title>\n<style>\n"
           "body{font-family:sans-serif;margin:24px;color:#222;background:#fff;max-width:1040px}\n"
           "h1{font-size:22px}h2{font-size:19px;border-bottom:2px solid #2EA044;padding-bottom:4px}\n"
           "h3{font-size:15px;margin-top:22px}\n"
           "table{border-collapse:collapse;font-size:12px;margin:6px 0}\n"
           "th,td{border:1px solid #ccc;padding:3px 7px;text-align:right}\n"
           "th{background:#f0f0f0}td:first-child,th:first-child{text-align:left}\n"
           ".legend{font-size:11px;color:#555}.period{color:#444}\n"
           "</style>\n</head>\n<body>\n<h1>Orvanta line history</h1>\n";
    for (const LineReport& line : lines) writeLine(out, line);
    out << "</body>\n</html>\n";
}

}  // namespace orvanta::report
