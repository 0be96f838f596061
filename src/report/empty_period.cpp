#include "report/empty_period.h"

#include <filesystem>

namespace orvanta::report {

void keepLineRow(LineReport& report) {
    report.noRecords = report.slots.empty() && report.badActors.empty() && report.standing.empty();
    if (!report.slots.empty() && report.slots.front().slot == history::kLineSlot) return;
    SlotFigures line;
    line.slot = history::kLineSlot;
    line.name = report.line.empty() ? std::filesystem::path(report.file).stem().string() : report.line;
    line.timeIn[0] = report.to - report.from;
    report.slots.insert(report.slots.begin(), std::move(line));
}

}  // namespace orvanta::report
