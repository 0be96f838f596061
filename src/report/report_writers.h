// The report's three forms: text for a terminal, CSV for spreadsheets, one self-contained HTML file.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "report/line_report.h"

namespace orvanta::report {

void writeText(std::ostream& out, const std::vector<LineReport>& lines);
void writeCsv(std::ostream& out, const std::vector<LineReport>& lines);
void writeHtml(std::ostream& out, const std::vector<LineReport>& lines);

// How the definitions read, the same words in every form.
inline constexpr const char* kAvailabilityLegend =
    "availability = up / (up + down); up = running + warning + message, down = fault; maintenance, not "
    "connected and no data count in neither";
inline constexpr const char* kStopLegend =
    "stops = fault intervals that begin in the period; MTBF = up time / stops; MTTR = fault time / stops";
inline constexpr const char* kNoDataLegend =
    "no data = status 0, time outside the panel's runs and time in gaps (broker or line lost)";
inline constexpr const char* kLoadLegend =
    "alarm load: episodes raised per 10-minute window (aligned to the clock, windows within a run); flood = "
    "more than 10 alarms in 10 minutes (ISA-18.2, EEMUA 191)";
inline constexpr const char* kChatterLegend =
    "chattering: the same alarm raised 3 times or more within 60 s; count = raises that made such three";
inline constexpr const char* kStandingLegend =
    "standing: active longer than 24 h (an open episode counts up to the period's end or its run's last "
    "sign)";

// Said of a period the panel ran around but recorded nothing in; the CSV keeps its tables and says nothing.
inline constexpr const char* kNoRecordsText = "There are no records in the period.";

// Shared by the forms.
std::string damagedText(const LineReport& report);  // empty when the file had no damaged record
// "N more chattering alarms are not listed: ..."; empty when every one is.
std::string chatteringNotListedText(const LineReport& report);
std::string standingNotListedText(const LineReport& report);
std::string availabilityText(const SlotFigures& slot);
std::string slotLabel(const SlotFigures& slot);
std::string causeLabel(const std::string& cause);
std::string alarmLabel(const AlarmName& alarm);
// The table of time in each state, availability and stops: its header and a slot's row.
std::vector<std::string> stateTableHeader();
std::vector<std::string> stateTableRow(const SlotFigures& slot);

}  // namespace orvanta::report
