// The line's description and the live values of its foreign machines, as the embedded line-display
// component keeps them. A line source (the demo simulator, the MQTT backend) feeds the component; it
// delivers on the loop's thread.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "ports/line_display.h"

namespace orvanta {

struct LineMachine {
    bool enabled = false;
    std::string name;
    std::string coName;
    std::int16_t number = 0;  // own machine 1..5 this slot stands for
    bool remote = false;
    bool textFlag = false;
    std::int16_t symbol = 0;
    bool foreign = false;
    std::int16_t group = -1;
    std::array<std::int16_t, kLineSlotCount> groupSlots{-1, -1, -1, -1, -1, -1};  // slots 1..6
    // Live values, answered for foreign machines.
    std::int32_t languageId = 0;
    std::int16_t status = 0;
    std::string message;
};

struct LineDescription {
    std::int32_t languageId = 0;
    std::array<std::string, kLineGroupCount> groups;
    std::array<LineMachine, kLineMachineCount> machines;
};

struct MachineValues {
    std::int32_t languageId = 0;
    std::int16_t status = 0;
    std::string message;
};
using LineValues = std::array<MachineValues, kLineMachineCount>;

// What the panel handed one machine slot last.
struct SlotDisplay {
    std::string text;
    double language = 0;
    std::int16_t status = 0;
    friend bool operator==(const SlotDisplay&, const SlotDisplay&) = default;
};
using LineDisplayState = std::array<SlotDisplay, kLineMachineCount>;

class LineSourceListener {
public:
    virtual ~LineSourceListener() = default;
    virtual void lineOnline(bool online) = 0;
    virtual void lineDescription(const LineDescription& description) = 0;
    virtual void lineValues(const LineValues& values) = 0;
};

class LineSource {
public:
    virtual ~LineSource() = default;
    virtual void start(LineSourceListener& listener) = 0;
    virtual void stop() = 0;
};

}  // namespace orvanta
