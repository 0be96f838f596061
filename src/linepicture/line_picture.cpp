#include "linepicture/line_picture.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "linebridge/reference_machine.h"

namespace orvanta {
namespace {

constexpr std::size_t at(int index) { return static_cast<std::size_t>(index); }

constexpr Rgb kDarkInk{0x1A, 0x1A, 0x1A};
constexpr Rgb kWhite{0xFF, 0xFF, 0xFF};
// Any code without a meaning of its own stands for all of them in the legend.
constexpr int kOtherStatus = 7;

// The panel hands a slot its language as a floating-point number; anything that is not a 32-bit
// identifier is no language at all. Asked as "inside", so that NaN is outside too.
std::int32_t languageFromSlot(double language) {
    const bool inside = language >= std::numeric_limits<std::int32_t>::min() &&
                        language <= std::numeric_limits<std::int32_t>::max();
    if (!inside) return 0;
    return static_cast<std::int32_t>(std::lround(language));
}

MachineLook lookOf(const LineMachine& described, const MachineValues* live, const SlotDisplay& handed,
                   const LanguageTable* languages) {
    MachineLook look;
    look.enabled = described.enabled;
    look.name = described.name;
    look.coName = described.coName;
    look.number = described.number;
    look.foreign = described.foreign;
    look.remote = described.remote;
    look.textFlag = described.textFlag;
    if (!described.foreign) {
        look.status = handed.status;
        look.text = handed.text;
        look.language = languageFromSlot(handed.language);
    } else {
        // A foreign machine's slot is not what it shows: its values are its own line's.
        const MachineValues shown =
            live != nullptr ? *live
                            : MachineValues{described.languageId, described.status, described.message};
        look.status = shown.status;
        look.text = shown.message;
        look.language = shown.languageId;
    }
    look.statusName = statusName(look.status);
    look.colour = statusColour(look.status);
    look.ink = inkOn(look.colour);
    look.fontName = fontNameFor(languages, look.language);
    return look;
}

PictureColumn columnOf(const LineDescription& line, std::int16_t slotGroup) {
    PictureColumn column;
    if (slotGroup < 0 || slotGroup >= kLineGroupCount) {
        column.title = "(no group)";
        return column;
    }
    column.group = slotGroup;
    const std::string& name = line.groups[at(slotGroup)];
    column.title = name.empty() ? "group " + std::to_string(slotGroup) : name;
    std::int16_t m = 0;
    for (const LineMachine& machine : line.machines) {
        if (machine.enabled && machine.group == slotGroup) column.machines.push_back(m);
        ++m;
    }
    return column;
}

}  // namespace

std::string_view statusName(int status) {
    switch (status) {
        case 0:
            return "no data";
        case 1:
            return "running";
        case 2:
            return "warning";
        case 3:
            return "message";
        case 4:
            return "fault";
        case 5:
            return "not connected";
        case 6:
            return "maintenance";
        default:
            return "unknown";
    }
}

Rgb statusColour(int status) {
    switch (status) {
        case 0:
            return {0xA6, 0xA6, 0xA6};
        case 1:
            return {0x2E, 0xA0, 0x44};
        case 2:
            return {0xF2, 0xCB, 0x3A};
        case 3:
            return {0x3A, 0xAE, 0xD8};
        case 4:
            return {0xD9, 0x30, 0x25};
        case 5:
            return {0x3C, 0x3C, 0x3C};
        case 6:
            return {0xF2, 0x89, 0x2B};
        default:
            return {0xC0, 0x3C, 0xC0};
    }
}

Rgb inkOn(Rgb fill) {
    const double luminance = 0.299 * fill.red + 0.587 * fill.green + 0.114 * fill.blue;
    return luminance > 140 ? kDarkInk : kWhite;
}

const std::array<LegendEntry, 8>& statusLegend() {
    static const std::array<LegendEntry, 8> legend{{{statusName(0), statusColour(0)},
                                                    {statusName(1), statusColour(1)},
                                                    {statusName(2), statusColour(2)},
                                                    {statusName(3), statusColour(3)},
                                                    {statusName(4), statusColour(4)},
                                                    {statusName(5), statusColour(5)},
                                                    {statusName(6), statusColour(6)},
                                                    {"other", statusColour(kOtherStatus)}}};
    return legend;
}

std::string fontNameFor(const LanguageTable* languages, std::int32_t language) {
    if (languages == nullptr || language == 0) return {};
    // A corrupt count must not read past the table.
    const int count = std::clamp<int>(languages->LanguageCount, 0, kLanguageCapacity);
    for (int i = 1; i <= count; ++i) {
        const LanguageRecord& entry = languages->entries[at(i)];
        if (entry.Language == language) return entry.FontName;
    }
    return {};
}

const std::string& LinePicture::ownMachineText(int number) const {
    static const std::string none;
    for (const MachineLook& machine : machines) {
        if (machine.enabled && !machine.foreign && !machine.textFlag && machine.number == number)
            return machine.text;
    }
    return none;
}

LinePicture linePicture(const LineDisplayContents& contents, const LanguageTable* languages) {
    static const LineDescription undescribed;
    static const LineDisplayState nothingHanded{};
    const LineDescription& line = contents.description != nullptr ? *contents.description : undescribed;

    LinePicture picture;
    picture.described = contents.description != nullptr;
    picture.connected = contents.connected;
    picture.handed = contents.handed != nullptr ? *contents.handed : nothingHanded;
    for (int m = 0; m < kLineMachineCount; ++m) {
        const MachineValues* live = contents.liveValues != nullptr ? &(*contents.liveValues)[at(m)] : nullptr;
        picture.machines[at(m)] = lookOf(line.machines[at(m)], live, picture.handed[at(m)], languages);
    }
    if (!picture.described) return picture;

    picture.referenceMachine = ReferenceMachine([&line](std::int16_t m) {
        const LineMachine& machine = line.machines[at(m)];
        return MachineRole{machine.enabled, machine.foreign, machine.number};
    });
    const LineMachine& reference = line.machines[at(picture.referenceMachine)];
    // A machine that is not enabled has no display slots: the bridge shows no group for it either.
    if (!reference.enabled) return picture;
    for (const std::int16_t slotGroup : reference.groupSlots)
        picture.columns.push_back(columnOf(line, slotGroup));
    return picture;
}

}  // namespace orvanta
