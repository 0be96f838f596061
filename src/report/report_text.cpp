#include <algorithm>
#include <cstdio>

#include "linepicture/line_picture.h"
#include "report/report_time.h"
#include "report/report_writers.h"

namespace orvanta::report {

std::string localTime(const LineReport& report, Millis at) { return formatTime(at, report.offsetAt(at)); }

std::string zoneText(const LineReport& report) {
    return report.zone ? report.timeZone : formatOffset(report.utcOffsetMinutes);
}

std::string availabilityText(const SlotFigures& slot) {
    const std::optional<double> value = slot.availability();
    if (!value) return "-";
    return formatFixed(*value * 100.0, 1) + " %";
}

// An own machine by the number the rest of the panel gives it; its slot only where two slots stand for it.
// A machine without one (a foreign machine, or any in a file that did not record the numbers) by its slot.
std::string slotLabel(const SlotFigures& slot) {
    if (slot.slot == history::kLineSlot)
        return "line" + (slot.name.empty() ? std::string() : " " + slot.name);
    if (slot.machine != 0)
        return "machine " + std::to_string(slot.machine) + " " + slot.name +
               (slot.sharesMachine ? " (slot " + std::to_string(slot.slot) + ")" : "");
    return "slot " + std::to_string(slot.slot) + " " + slot.name + (slot.foreign ? " (foreign)" : "");
}

std::string alarmsNotToldText(const LineReport& report) {
    if (report.alarmsNotTold == 0) return {};
    return std::to_string(report.alarmsNotTold) + " raises of alarms beyond the " +
           std::to_string(kMostAlarms) +
           " different ones a report tells apart are counted in the load, not in the lists: the file is "
           "damaged.";
}

std::string damagedText(const LineReport& report) {
    if (report.damaged == 0) return {};
    return std::to_string(report.damaged) +
           (report.damaged == 1 ? " state interval names" : " state intervals name") +
           " a machine slot outside 0.." + std::to_string(kSlotCount - 1) +
           ": the file is damaged there; they are left out of every figure.";
}

std::string chatteringNotListedText(const LineReport& report) {
    if (report.chatteringNotListed == 0) return {};
    return std::to_string(report.chatteringNotListed) + " more chattering alarms are not listed: the " +
           std::to_string(kListedAlarms) + " with the most such raises are.";
}

std::string standingNotListedText(const LineReport& report) {
    if (report.standingNotListed == 0) return {};
    return std::to_string(report.standingNotListed) + " more standing alarms are not listed: the " +
           std::to_string(kListedAlarms) + " active longest are.";
}

std::string causeLabel(const AlarmName& cause) {
    if (cause.machine == 0) return cause.text.empty() ? "(no alarm recorded)" : cause.text;
    return cause.text + " (" + alarmLabel(cause) + ")";
}

std::string alarmLabel(const AlarmName& alarm) {
    return "machine " + std::to_string(alarm.machine) + " table " + std::to_string(alarm.table) + " fault " +
           std::to_string(alarm.fault);
}

std::vector<std::string> stateTableHeader() {
    std::vector<std::string> header{"slot"};
    for (int s = 1; s < kStatusCount; ++s) header.emplace_back(statusName(s));
    header.insert(header.end(), {"no data", "availability", "stops", "MTBF", "MTTR"});
    return header;
}

std::vector<std::string> stateTableRow(const SlotFigures& slot) {
    const auto optionalDuration = [](const std::optional<Millis>& value) {
        return value ? formatDuration(*value) : std::string("-");
    };
    std::vector<std::string> row{slotLabel(slot)};
    for (int s = 1; s < kStatusCount; ++s) row.push_back(formatDuration(slot.timeIn[s]));
    row.insert(row.end(), {formatDuration(slot.timeIn[0]), availabilityText(slot), std::to_string(slot.stops),
                           optionalDuration(slot.mtbf()), optionalDuration(slot.mttr())});
    return row;
}

namespace {

// The width of a UTF-8 text on a terminal, one column per character: the plant's alarm texts are German,
// French and more, and a byte count would pull every column after an accent out of line.
std::size_t columns(const std::string& text) {
    std::size_t count = 0;
    for (const char c : text) count += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
    return count;
}

// A plain table: columns as wide as their widest cell, numbers to the right.
class TextTable {
public:
    explicit TextTable(std::vector<std::string> header) { rows_.push_back(std::move(header)); }
    void add(std::vector<std::string> row) { rows_.push_back(std::move(row)); }
    void write(std::ostream& out, std::size_t leftColumns) const {
        std::vector<std::size_t> width(rows_.front().size(), 0);
        for (const auto& row : rows_)
            for (std::size_t c = 0; c < row.size() && c < width.size(); ++c)
                width[c] = std::max(width[c], columns(row[c]));
        for (const auto& row : rows_) {
            std::string line;
            for (std::size_t c = 0; c < width.size(); ++c) {
                const std::string cell = c < row.size() ? row[c] : std::string();
                const std::string pad(width[c] - std::min(width[c], columns(cell)), ' ');
                if (c > 0) line += "  ";
                line += c < leftColumns ? cell + pad : pad + cell;
            }
            while (!line.empty() && line.back() == ' ') line.pop_back();
            out << "  " << line << '\n';
        }
    }

private:
    std::vector<std::vector<std::string>> rows_;
};

std::string percent(double share) { return formatFixed(share * 100.0, 1) + " %"; }

void writeLine(std::ostream& out, const LineReport& r) {
    out << "Line " << (r.line.empty() ? "(unnamed)" : r.line) << "  (" << r.file << ")\n";
    out << "Period: " << (r.periodName.empty() ? "" : r.periodName + ", ") << localTime(r, r.from) << " to "
        << localTime(r, r.to) << ", " << formatDuration(r.to - r.from) << "; times in the line's local time, "
        << zoneText(r) << "\n";
    if (!r.hasRuns) {
        out << "The file holds no runs of the panel.\n";
    } else if (r.noRecords) {
        out << kNoRecordsText << "\n";
    }
    if (r.damaged > 0) out << damagedText(r) << "\n";
    if (r.alarmsNotTold > 0) out << alarmsNotToldText(r) << "\n";
    out << "\nTime in each state, availability and stops\n";
    TextTable states(stateTableHeader());
    for (const SlotFigures& slot : r.slots) states.add(stateTableRow(slot));
    states.write(out, 1);
    out << "  (" << kAvailabilityLegend << ";\n   " << kStopLegend << ";\n   " << kNoDataLegend << ")\n";

    out << "\nDowntime by cause\n";
    TextTable causes({"slot", "cause", "downtime", "count"});
    for (const SlotFigures& slot : r.slots)
        for (const CauseDowntime& cause : slot.causes)
            causes.add({slotLabel(slot), causeLabel(cause.cause), formatDuration(cause.duration),
                        std::to_string(cause.count)});
    causes.write(out, 2);
    out << "  (" << kCauseLegend << ")\n";

    const AlarmLoad& load = r.load;
    const std::string mean = formatFixed(load.mean, 2);
    out << "\nAlarm load per 10 minutes\n";
    out << "  episodes " << load.episodes << " in " << load.windows << " windows; mean " << mean << ", peak "
        << load.peak;
    if (load.peak > 0) out << " at " << localTime(r, load.peakAt);
    out << "; in flood " << load.floodWindows << " windows, " << percent(load.floodShare()) << "\n";
    out << "  (" << kLoadLegend << ")\n";

    out << "\nBad actors (the ten alarms raised most often)\n";
    TextTable bad({"alarm", "text", "count", "share"});
    for (const BadActor& actor : r.badActors)
        bad.add(
            {alarmLabel(actor.alarm), actor.alarm.text, std::to_string(actor.count), percent(actor.share)});
    bad.write(out, 2);

    out << "\nChattering alarms\n";
    TextTable chatter({"alarm", "text", "count", "first"});
    for (const ChatteringAlarm& alarm : r.chattering)
        chatter.add({alarmLabel(alarm.alarm), alarm.alarm.text, std::to_string(alarm.count),
                     localTime(r, alarm.first)});
    chatter.write(out, 2);
    if (r.chatteringNotListed > 0) out << "  " << chatteringNotListedText(r) << "\n";
    out << "  (" << kChatterLegend << ")\n";

    out << "\nStanding alarms\n";
    TextTable standing({"alarm", "text", "raised", "cleared", "active"});
    for (const StandingAlarm& alarm : r.standing)
        standing.add({alarmLabel(alarm.alarm), alarm.alarm.text, localTime(r, alarm.raised),
                      alarm.cleared ? localTime(r, *alarm.cleared) : "open", formatDuration(alarm.active)});
    standing.write(out, 2);
    if (r.standingNotListed > 0) out << "  " << standingNotListedText(r) << "\n";
    out << "  (" << kStandingLegend << ")\n";
}

}  // namespace

void writeText(std::ostream& out, const std::vector<LineReport>& lines) {
    bool first = true;
    for (const LineReport& line : lines) {
        if (!first) out << "\n" << std::string(78, '=') << "\n\n";
        first = false;
        writeLine(out, line);
    }
}

}  // namespace orvanta::report
