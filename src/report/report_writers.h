// The report's three forms: text for a terminal, CSV for spreadsheets, one self-contained HTML file.
#pragma once

#include <exception>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "report/line_report.h"

namespace orvanta::report {

void writeText(std::ostream& out, const std::vector<LineReport>& lines);
void writeCsv(std::ostream& out, const std::vector<LineReport>& lines);
void writeHtml(std::ostream& out, const std::vector<LineReport>& lines);
// The stops' parts and the episodes of each file themselves, read as they are written; a file that cannot be
// read is handed to failed, and the others are written.
void writeEventsCsv(std::ostream& out, const std::vector<std::string>& files, const ReportRequest& request,
                    const std::function<void(const std::string& file, const std::exception& error)>& failed);

// How the definitions read, the same words in every form.
inline constexpr const char* kAvailabilityLegend =
    "availability = up / (up + down); up = running + warning + message, down = fault; maintenance, not "
    "connected and no data count in neither";
inline constexpr const char* kStopLegend =
    "stops = faults that begin in the period (one that goes on with the same alarm after a gap or a restart "
    "of the line display is the same stop); MTBF = up time / stops; MTTR = fault time / stops";
inline constexpr const char* kNoDataLegend =
    "no data = status 0, time outside the panel's runs and time in gaps (broker or line lost)";
inline constexpr const char* kCauseLegend =
    "each part of a stop is charged to the alarm that led the machine then, named in one language; a line "
    "stop to the fault published as the line's alarm, else to the machine that went to fault first; downtime "
    "= the period's share, count = the parts that begin in the period";
inline constexpr const char* kLoadLegend =
    "alarm load: alarms raised per 10-minute window (from :00, :10, ... of the line's local time, windows "
    "within a run; a message that leads the line counts once); flood = more than 10 alarms in 10 minutes "
    "(ISA-18.2, EEMUA 191)";
inline constexpr const char* kChatterLegend =
    "chattering: the same alarm raised 3 times or more within 60 s; count = its raises that belong to such "
    "three";
inline constexpr const char* kStandingLegend =
    "standing: active longer than 24 h since its raise; active = its time within the period (an open "
    "episode counts up to the period's end or its run's last sign)";

// Said of a period the panel ran around but recorded nothing in; the CSV keeps its tables and says nothing.
inline constexpr const char* kNoRecordsText = "There are no records in the period.";

// Shared by the forms.
// "2026-12-07 14:00:00" on the line's clock at that moment.
std::string localTime(const LineReport& report, Millis at);
// The line's zone ("Europe/Berlin"), else its offset ("UTC+01:00").
std::string zoneText(const LineReport& report);
std::string damagedText(const LineReport& report);  // empty when the file had no damaged record
// "N raises of alarms beyond ..."; empty when the report told every alarm apart.
std::string alarmsNotToldText(const LineReport& report);
// "N more chattering alarms are not listed: ..."; empty when every one is.
std::string chatteringNotListedText(const LineReport& report);
std::string standingNotListedText(const LineReport& report);
std::string availabilityText(const SlotFigures& slot);
std::string slotLabel(const SlotFigures& slot);
std::string causeLabel(const AlarmName& cause);
std::string alarmLabel(const AlarmName& alarm);
// The table of time in each state, availability and stops: its header and a slot's row.
std::vector<std::string> stateTableHeader();
std::vector<std::string> stateTableRow(const SlotFigures& slot);

}  // namespace orvanta::report
