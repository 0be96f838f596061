// The value preparation: from the foreign machines' languages, status codes and messages it derives
// their character sets and fonts, the status of the six display groups and of the line, and a screen
// jump, and tells the visualisation through the new-data flags what changed.
#include <algorithm>
#include <vector>

#include "linebridge/line_bridge.h"
#include "linebridge/whole_array.h"
#include "ports/variable_names.h"
#include "service/handler_frame.h"

namespace orvanta {
namespace {

bool isSet(std::int16_t flag) { return flag == kTrue; }

}  // namespace

void LineBridge::LinienWerteAufbereiten(const std::string& callerName) {
    const std::string traceName = callerName + ".LinienWerteAufbereiten";
    HandlerFrame frame(log_, traceName, Trace::Data);
    MachineRecords& machines = records_.machines;
    MachineValueRecords& values = records_.values;
    MachineValueRecords& sent = records_.sentValues;
    ChangeFlags& changes = records_.changes;
    const auto foreign = [&](int m) { return isSet(machines.at(static_cast<std::size_t>(m)).foreign); };
    const auto foreignAndEnabled = [&](int m) {
        return foreign(m) && isSet(machines.at(static_cast<std::size_t>(m)).enabled);
    };

    // Character sets and fonts of the foreign machines' languages. A value counts as sent only once the
    // array that carries it has been written.
    WholeArray charsets(frame, variables_, vars::kLiSCharset);
    for (std::int16_t m = 0; m < kLineMachineCount; ++m) {
        if (!foreign(m)) continue;
        MachineValueRecord& record = values[static_cast<std::size_t>(m)];
        // One statement: a machine whose language cannot be fetched keeps its character set and font
        // rather than taking those of the machine before it.
        // The character set last: one too large for 16 bits keeps the font.
        frame.step([&] {
            std::int32_t language = BrenkoLineOCX_.MachineLanguageId(m);
            const LanguageRecord& entry = languages_.at(SucheFont(languages_, language, traceName, log_));
            record.fontName = entry.FontName;
            record.charset = narrowToInteger(entry.CharSet);
        });
        charsets.set(m, record.charset);
    }
    charsets.write();
    charsets.forEachSent([&](std::size_t m) {
        if (values[m].charset == sent[m].charset) return;
        sent[m].charset = values[m].charset;
        changes.valuesChanged = kTrue;
    });

    // Status and message of the foreign machines in use.
    for (std::int16_t m = 0; m < kLineMachineCount; ++m) {
        if (!foreignAndEnabled(m)) continue;
        MachineValueRecord& record = values[static_cast<std::size_t>(m)];
        frame.step([&] { record.rawStatus = BrenkoLineOCX_.MachineStatus(m); });
        record.priority = StatusPriority(record.rawStatus, record.priority);
        frame.step([&] { record.message = BrenkoLineOCX_.MachineMessage(m); });
    }
    WholeArray statuses(frame, variables_, vars::kLiSStatus);
    for (int m = 0; m < kLineMachineCount; ++m) {
        if (foreignAndEnabled(m)) statuses.set(m, values[static_cast<std::size_t>(m)].rawStatus);
    }
    statuses.write();
    statuses.forEachSent([&](std::size_t m) {
        if (values[m].rawStatus == sent[m].rawStatus) return;
        sent[m].rawStatus = values[m].rawStatus;
        changes.valuesChanged = kTrue;
    });

    // Messages and font names, element by element and only when changed.
    const auto sendChanged = [&](std::string_view base, std::string MachineValueRecord::*field) {
        for (std::int16_t m = 0; m < kLineMachineCount; ++m) {
            if (!foreign(m)) continue;
            const std::string& now = values[static_cast<std::size_t>(m)].*field;
            std::string& last = sent[static_cast<std::size_t>(m)].*field;
            const auto write = [&] { variables_.WriteVariable(vars::indexed(base, m), Variant::text(now)); };
            if (now != last && frame.step(write)) {
                last = now;
                changes.valuesChanged = kTrue;
            }
        }
    };
    sendChanged(vars::kLiSMessageBase, &MachineValueRecord::message);
    sendChanged(vars::kLiSFontBase, &MachineValueRecord::fontName);

    // Group status: the foreign machine of highest priority in each displayed group decides, the lowest
    // machine on a tie. A line that is not connected shows every group as 5, which no machine outranks.
    struct Candidate {
        std::int16_t status = 0;
        std::int16_t priority = 0;
    };
    PerSlot<Candidate> candidates{};
    if (records_.LineConnected == 0) {
        for (Candidate& candidate : candidates) candidate.status = 5;
    } else {
        for (int m = 0; m < kLineMachineCount; ++m) {
            if (!foreignAndEnabled(m)) continue;
            const MachineRecord& machine = machines[static_cast<std::size_t>(m)];
            const MachineValueRecord& record = values[static_cast<std::size_t>(m)];
            for (int slot = 1; slot <= kLineSlotCount; ++slot) {
                const GroupRecord& group = records_.groups.at(static_cast<std::size_t>(slot));
                Candidate& candidate = candidates.at(static_cast<std::size_t>(slot));
                if (machine.group == group.number && isSet(group.valid) &&
                    record.priority > candidate.priority)
                    candidate = {record.rawStatus, record.priority};
            }
        }
    }
    WholeArray groupStatuses(frame, variables_, vars::kLiGStatus);
    for (int slot = 1; slot <= kLineSlotCount; ++slot) {
        GroupRecord& group = records_.groups.at(static_cast<std::size_t>(slot));
        const std::int16_t status = candidates.at(static_cast<std::size_t>(slot)).status;
        if (status == group.status) continue;
        group.status = status;
        group.priority = StatusPriority(status, group.priority);
        groupStatuses.set(slot - 1, status);
        changes.groupsChanged = kTrue;
    }
    groupStatuses.write();

    // Line status: the group of highest priority, the lower slot on a tie.
    std::int16_t lineStatus = 0;
    std::int16_t linePriority = 0;
    for (int slot = 1; slot <= kLineSlotCount; ++slot) {
        const GroupRecord& group = records_.groups.at(static_cast<std::size_t>(slot));
        if (group.priority > linePriority) {
            linePriority = group.priority;
            lineStatus = group.status;
        }
    }
    if (lineStatus != records_.lineStatus) changes.groupsChanged = kTrue;
    records_.lineStatus = lineStatus;
    frame.step([&] { variables_.WriteVariable(vars::kLiStatus, Variant::integer(lineStatus)); });

    // The screen jump the line status asks for, unless jumps are suppressed.
    const bool jumpsAllowed = !isSet(jumps_.KeinSprungAktiv);
    const auto jump = [&](std::int16_t bits) {
        frame.step([&] { variables_.WriteVariable(vars::kLiABits, Variant::integer(bits)); });
    };
    switch (lineStatus) {
        case 2:
        case 6:
            if (isSet(jumps_.SprungWarnungen) && jumpsAllowed) jump(4);
            break;
        case 3:
            if (isSet(jumps_.SprungWarnungen) && jumpsAllowed) jump(2);
            break;
        case 4:
            if (isSet(jumps_.SprungAlarme) && jumpsAllowed) jump(1);
            break;
        default:
            jump(0);
            break;
    }

    if (changes.parametersChanged != 0) {
        frame.step([&] { variables_.WriteVariable(vars::kLiNeuP, Variant::integer(1)); });
        changes.parametersChanged = 0;
    }
    if (changes.fontChanged != 0 || changes.groupsChanged != 0) {
        frame.step([&] { variables_.WriteVariable(vars::kLiNeuG, Variant::integer(1)); });
        changes.fontChanged = 0;
        changes.groupsChanged = 0;
    }
    if (changes.valuesChanged != 0) {
        frame.step([&] { variables_.WriteVariable(vars::kLiNeuS, Variant::integer(1)); });
        changes.valuesChanged = 0;
    }
}

}  // namespace orvanta
