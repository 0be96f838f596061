// A line display for the logic's tests. The test fills `line` with the answers, may make any member fail,
// raises the events itself, and reads back every call in order as text:
//   "MachineName(3)", "MachineGroupSlot(2, 3)", "PutMachineText(3, \"Fehler\")",
//   "PutMachineLanguage(3, 1031)", "PutMachineStatus(3, 4)", "LogSize(1024)", "Active(True)".
// The getters answer the live fields (languageId, status, message) straight from `line` too. An index out
// of range is error 9, as with the real component; a failing call is recorded before it throws.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "core/vb_error.h"
#include "ports/line_display.h"
#include "ports/line_source.h"

namespace orvanta::testing {

class ScriptedLineDisplay : public LineDisplay {
public:
    struct Call {
        std::uint32_t member;  // a line_member id
        std::string text;
    };

    LineDescription line;
    std::vector<Call> calls;

    // Last values of the written properties.
    std::string logPath;
    std::int32_t logSize = 0;
    bool logDataOn = false;
    bool logSystemOn = false;
    bool active = false;
    int dataUpdatedCount = 0;

    // Calls of member throw error from now on; if index is given only those for that machine (that group
    // for GroupName).
    void failOn(std::uint32_t member, VbError error, std::optional<std::int16_t> index = std::nullopt);
    void clearFailures() { failures_.clear(); }

    // All calls as text, or those to the given members only.
    std::vector<std::string> texts(const std::vector<std::uint32_t>& members = {}) const;
    // The setter and property calls only: what the panel handed the display.
    std::vector<std::string> writes() const;
    void clearCalls() { calls.clear(); }

    // The events, raised on the subscribed listener at once; std::logic_error when nobody subscribed.
    void raiseConnect(std::int16_t connected);
    void raiseNewLineParameter();
    void raiseNewLineData();

    void subscribe(LineDisplayEvents& events) override { listener_ = &events; }
    std::int32_t LanguageId() override;
    bool MachineEnabled(std::int16_t machine) override;
    std::string MachineName(std::int16_t machine) override;
    std::string MachineCoName(std::int16_t machine) override;
    std::int16_t MachineNumber(std::int16_t machine) override;
    bool MachineRemote(std::int16_t machine) override;
    bool MachineTextFlag(std::int16_t machine) override;
    std::int16_t MachineSymbol(std::int16_t machine) override;
    bool MachineForeign(std::int16_t machine) override;
    std::int16_t MachineGroup(std::int16_t machine) override;
    std::int16_t MachineGroupSlot(std::int16_t slot, std::int16_t machine) override;
    std::string GroupName(std::int16_t group) override;
    std::int32_t MachineLanguageId(std::int16_t machine) override;
    std::int16_t MachineStatus(std::int16_t machine) override;
    std::string MachineMessage(std::int16_t machine) override;
    void PutMachineText(std::int16_t machine, const std::string& text) override;
    void PutMachineLanguage(std::int16_t machine, double language) override;
    void PutMachineStatus(std::int16_t machine, std::int16_t status) override;
    void LogPath(const std::string& path) override;
    void LogSize(std::int32_t sizeKiB) override;
    void LogDataOn(bool on) override;
    void LogSystemOn(bool on) override;
    void Active(bool on) override;
    void DataUpdated(bool updated) override;

private:
    struct Failure {
        VbError error;
        std::optional<std::int16_t> index;
    };

    LineDisplayEvents& listener() const;
    void record(std::uint32_t member, std::string text, std::optional<std::int16_t> index = std::nullopt);
    const LineMachine& get(std::uint32_t member, const char* name, std::int16_t machine);
    void put(std::uint32_t member, const char* name, std::int16_t machine, const std::string& argument);

    LineDisplayEvents* listener_ = nullptr;
    std::map<std::uint32_t, Failure> failures_;
};

}  // namespace orvanta::testing
