// What the panel expects of the line-display component: it knows the machines of the line and draws the
// line picture. The panel asks it for the line's configuration and the foreign machines' values, hands it
// the alarm text, language and status of each own machine slot, and reacts to its three events.
//
// Machine indexes are 0..63, group indexes 0..31, display slots 1..6; an index outside its range is error
// 9. The original control was called late-bound; its member identifiers stand beside the members so that a
// log or a trace of the original can be matched to them.
#pragma once

#include <cstdint>
#include <string>

namespace orvanta {

namespace line_member {
inline constexpr std::uint32_t kLanguageId = 0x6803008A;
inline constexpr std::uint32_t kMachineEnabled = 0x68030082;
inline constexpr std::uint32_t kMachineName = 0x68030088;
inline constexpr std::uint32_t kMachineCoName = 0x68030087;
inline constexpr std::uint32_t kMachineNumber = 0x68030086;
inline constexpr std::uint32_t kMachineRemote = 0x68030085;
inline constexpr std::uint32_t kMachineTextFlag = 0x68030083;
inline constexpr std::uint32_t kMachineSymbol = 0x68030084;
inline constexpr std::uint32_t kMachineForeign = 0x68030080;
inline constexpr std::uint32_t kMachineGroup = 0x68030081;
inline constexpr std::uint32_t kMachineGroupSlot = 0x6803007F;
inline constexpr std::uint32_t kGroupName = 0x68030089;
inline constexpr std::uint32_t kMachineLanguageId = 0x6803007B;
inline constexpr std::uint32_t kMachineStatus = 0x6803007E;
inline constexpr std::uint32_t kMachineMessage = 0x6803007D;
inline constexpr std::uint32_t kPutMachineText = 0x68030090;
inline constexpr std::uint32_t kPutMachineLanguage = 0x6803008D;
inline constexpr std::uint32_t kPutMachineStatus = 0x6803008F;
inline constexpr std::uint32_t kLogPath = 0x68030092;
inline constexpr std::uint32_t kLogSize = 0x68030091;
inline constexpr std::uint32_t kLogDataOn = 0x68030093;
inline constexpr std::uint32_t kLogSystemOn = 0x68030094;
inline constexpr std::uint32_t kActive = 0x68030096;
inline constexpr std::uint32_t kDataUpdated = 0x68030095;
}  // namespace line_member

// Also the lengths of the line's process variables (variable_names.h): an element or a name per machine
// and per display slot.
inline constexpr std::int16_t kLineMachineCount = 64;
inline constexpr std::int16_t kLineGroupCount = 32;
inline constexpr std::int16_t kLineSlotCount = 6;

// The three events; they arrive on the loop's thread.
class LineDisplayEvents {
public:
    virtual ~LineDisplayEvents() = default;
    // connected: 16-bit Boolean, -1 once connected, 0 when the connection is lost.
    virtual void Connect(std::int16_t connected) = 0;
    virtual void NewLineParameter() = 0;
    virtual void NewLineData() = 0;
};

class LineDisplay {
public:
    virtual ~LineDisplay() = default;

    virtual void subscribe(LineDisplayEvents& events) = 0;

    // Getters; each throws VbError when the index is out of range or the answer cannot be had.
    virtual std::int32_t LanguageId() = 0;
    virtual bool MachineEnabled(std::int16_t machine) = 0;
    virtual std::string MachineName(std::int16_t machine) = 0;
    virtual std::string MachineCoName(std::int16_t machine) = 0;
    virtual std::int16_t MachineNumber(std::int16_t machine) = 0;
    virtual bool MachineRemote(std::int16_t machine) = 0;
    virtual bool MachineTextFlag(std::int16_t machine) = 0;
    virtual std::int16_t MachineSymbol(std::int16_t machine) = 0;
    virtual bool MachineForeign(std::int16_t machine) = 0;
    virtual std::int16_t MachineGroup(std::int16_t machine) = 0;
    virtual std::int16_t MachineGroupSlot(std::int16_t slot, std::int16_t machine) = 0;
    virtual std::string GroupName(std::int16_t group) = 0;
    virtual std::int32_t MachineLanguageId(std::int16_t machine) = 0;
    virtual std::int16_t MachineStatus(std::int16_t machine) = 0;
    virtual std::string MachineMessage(std::int16_t machine) = 0;

    // What the cyclic pass hands each own machine slot.
    virtual void PutMachineText(std::int16_t machine, const std::string& text) = 0;
    virtual void PutMachineLanguage(std::int16_t machine, double language) = 0;
    virtual void PutMachineStatus(std::int16_t machine, std::int16_t status) = 0;

    // Properties the panel writes.
    virtual void LogPath(const std::string& path) = 0;
    virtual void LogSize(std::int32_t sizeKiB) = 0;
    virtual void LogDataOn(bool on) = 0;
    virtual void LogSystemOn(bool on) = 0;
    virtual void Active(bool active) = 0;
    virtual void DataUpdated(bool updated) = 0;
};

}  // namespace orvanta
