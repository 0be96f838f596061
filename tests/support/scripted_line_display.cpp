#include "support/scripted_line_display.h"

#include <algorithm>
#include <iomanip>
#include <sstream>
#include <stdexcept>
#include <utility>

namespace orvanta::testing {
namespace {

using namespace line_member;

std::string boolText(bool value) { return value ? "True" : "False"; }
std::string quoted(const std::string& text) { return "\"" + text + "\""; }

void checkRange(std::int32_t index, std::int32_t first, std::int32_t last, const char* member) {
    if (index < first || index > last)
        throw VbError(kSubscriptOutOfRange,
                      std::string(member) + ": index " + std::to_string(index) + " is outside " +
                          std::to_string(first) + ".." + std::to_string(last),
                      "ScriptedLineDisplay");
}

}  // namespace

void ScriptedLineDisplay::failOn(std::uint32_t member, VbError error, std::optional<std::int16_t> index) {
    failures_.insert_or_assign(member, Failure{std::move(error), index});
}

std::vector<std::string> ScriptedLineDisplay::texts(const std::vector<std::uint32_t>& members) const {
    std::vector<std::string> out;
    for (const Call& call : calls) {
        if (members.empty() || std::find(members.begin(), members.end(), call.member) != members.end())
            out.push_back(call.text);
    }
    return out;
}

std::vector<std::string> ScriptedLineDisplay::writes() const {
    return texts({kPutMachineText, kPutMachineLanguage, kPutMachineStatus, kLogPath, kLogSize, kLogDataOn,
                  kLogSystemOn, kActive, kDataUpdated});
}

LineDisplayEvents& ScriptedLineDisplay::listener() const {
    if (listener_ == nullptr) throw std::logic_error("ScriptedLineDisplay: nobody has subscribed");
    return *listener_;
}

void ScriptedLineDisplay::raiseConnect(std::int16_t connected) { listener().Connect(connected); }
void ScriptedLineDisplay::raiseNewLineParameter() { listener().NewLineParameter(); }
void ScriptedLineDisplay::raiseNewLineData() { listener().NewLineData(); }

void ScriptedLineDisplay::record(std::uint32_t member, std::string text, std::optional<std::int16_t> index) {
    calls.push_back({member, std::move(text)});
    const auto failure = failures_.find(member);
    if (failure != failures_.end() && (!failure->second.index || failure->second.index == index))
        throw failure->second.error;
}

const LineMachine& ScriptedLineDisplay::get(std::uint32_t member, const char* name, std::int16_t machine) {
    record(member, std::string(name) + "(" + std::to_string(machine) + ")", machine);
    checkRange(machine, 0, kLineMachineCount - 1, name);
    return line.machines[static_cast<std::size_t>(machine)];
}

void ScriptedLineDisplay::put(std::uint32_t member, const char* name, std::int16_t machine,
                              const std::string& argument) {
    record(member, std::string(name) + "(" + std::to_string(machine) + ", " + argument + ")", machine);
    checkRange(machine, 0, kLineMachineCount - 1, name);
}

std::int32_t ScriptedLineDisplay::LanguageId() {
    record(kLanguageId, "LanguageId()");
    return line.languageId;
}

bool ScriptedLineDisplay::MachineEnabled(std::int16_t m) {
    return get(kMachineEnabled, "MachineEnabled", m).enabled;
}
std::string ScriptedLineDisplay::MachineName(std::int16_t m) {
    return get(kMachineName, "MachineName", m).name;
}
std::string ScriptedLineDisplay::MachineCoName(std::int16_t m) {
    return get(kMachineCoName, "MachineCoName", m).coName;
}
std::int16_t ScriptedLineDisplay::MachineNumber(std::int16_t m) {
    return get(kMachineNumber, "MachineNumber", m).number;
}
bool ScriptedLineDisplay::MachineRemote(std::int16_t m) {
    return get(kMachineRemote, "MachineRemote", m).remote;
}
bool ScriptedLineDisplay::MachineTextFlag(std::int16_t m) {
    return get(kMachineTextFlag, "MachineTextFlag", m).textFlag;
}
std::int16_t ScriptedLineDisplay::MachineSymbol(std::int16_t m) {
    return get(kMachineSymbol, "MachineSymbol", m).symbol;
}
bool ScriptedLineDisplay::MachineForeign(std::int16_t m) {
    return get(kMachineForeign, "MachineForeign", m).foreign;
}
std::int16_t ScriptedLineDisplay::MachineGroup(std::int16_t m) {
    return get(kMachineGroup, "MachineGroup", m).group;
}
std::int32_t ScriptedLineDisplay::MachineLanguageId(std::int16_t m) {
    return get(kMachineLanguageId, "MachineLanguageId", m).languageId;
}
std::int16_t ScriptedLineDisplay::MachineStatus(std::int16_t m) {
    return get(kMachineStatus, "MachineStatus", m).status;
}
std::string ScriptedLineDisplay::MachineMessage(std::int16_t m) {
    return get(kMachineMessage, "MachineMessage", m).message;
}

std::int16_t ScriptedLineDisplay::MachineGroupSlot(std::int16_t slot, std::int16_t m) {
    record(kMachineGroupSlot, "MachineGroupSlot(" + std::to_string(slot) + ", " + std::to_string(m) + ")", m);
    checkRange(slot, 1, kLineSlotCount, "MachineGroupSlot");
    checkRange(m, 0, kLineMachineCount - 1, "MachineGroupSlot");
    return line.machines[static_cast<std::size_t>(m)].groupSlots[static_cast<std::size_t>(slot - 1)];
}

std::string ScriptedLineDisplay::GroupName(std::int16_t group) {
    record(kGroupName, "GroupName(" + std::to_string(group) + ")", group);
    checkRange(group, 0, kLineGroupCount - 1, "GroupName");
    return line.groups[static_cast<std::size_t>(group)];
}

void ScriptedLineDisplay::PutMachineText(std::int16_t m, const std::string& text) {
    put(kPutMachineText, "PutMachineText", m, quoted(text));
}

void ScriptedLineDisplay::PutMachineLanguage(std::int16_t m, double language) {
    std::ostringstream number;
    number << std::setprecision(15) << language;
    put(kPutMachineLanguage, "PutMachineLanguage", m, number.str());
}

void ScriptedLineDisplay::PutMachineStatus(std::int16_t m, std::int16_t status) {
    put(kPutMachineStatus, "PutMachineStatus", m, std::to_string(status));
}

void ScriptedLineDisplay::LogPath(const std::string& path) {
    record(kLogPath, "LogPath(" + quoted(path) + ")");
    logPath = path;
}

void ScriptedLineDisplay::LogSize(std::int32_t sizeKiB) {
    record(kLogSize, "LogSize(" + std::to_string(sizeKiB) + ")");
    logSize = sizeKiB;
}

void ScriptedLineDisplay::LogDataOn(bool on) {
    record(kLogDataOn, "LogDataOn(" + boolText(on) + ")");
    logDataOn = on;
}

void ScriptedLineDisplay::LogSystemOn(bool on) {
    record(kLogSystemOn, "LogSystemOn(" + boolText(on) + ")");
    logSystemOn = on;
}

void ScriptedLineDisplay::Active(bool on) {
    record(kActive, "Active(" + boolText(on) + ")");
    active = on;
}

void ScriptedLineDisplay::DataUpdated(bool updated) {
    record(kDataUpdated, "DataUpdated(" + boolText(updated) + ")");
    if (updated) ++dataUpdatedCount;
}

}  // namespace orvanta::testing
