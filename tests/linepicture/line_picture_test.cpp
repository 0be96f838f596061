#include "linepicture/line_picture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <sstream>
#include <string>

namespace orvanta {
namespace {

std::string hex(Rgb colour) {
    char text[8];
    std::snprintf(text, sizeof text, "%02X%02X%02X", colour.red, colour.green, colour.blue);
    return text;
}

// A slot nobody described and nobody handed anything: what most of the 64 machines look like.
MachineLook blankLook() {
    MachineLook look;
    look.statusName = "no data";
    look.colour = {0xA6, 0xA6, 0xA6};
    look.ink = {0x1A, 0x1A, 0x1A};
    return look;
}

// The whole picture as text, one line per column and per machine that is not blank, so that a test
// compares all of it at once and a failure shows where it differs.
std::string shown(const LinePicture& picture) {
    std::ostringstream out;
    out << (picture.described ? "described" : "not described") << ", "
        << (picture.connected ? "connected" : "not connected") << ", reference " << picture.referenceMachine
        << "\n";
    for (const PictureColumn& column : picture.columns) {
        out << "column " << column.group << " '" << column.title << "':";
        for (const std::int16_t m : column.machines) out << " " << m;
        out << "\n";
    }
    for (std::size_t m = 0; m < picture.machines.size(); ++m) {
        const MachineLook& look = picture.machines[m];
        if (look == blankLook()) continue;
        out << "m" << m << (look.enabled ? "" : " off") << " #" << look.number << " '" << look.name << "' '"
            << look.coName << "'" << (look.foreign ? " F" : "") << (look.remote ? " R" : "")
            << (look.textFlag ? " T" : "") << " | " << look.status << " " << look.statusName << " "
            << hex(look.colour) << "/" << hex(look.ink) << " | '" << look.text << "' " << look.language
            << " '" << look.fontName << "'\n";
    }
    for (std::size_t m = 0; m < picture.handed.size(); ++m) {
        const SlotDisplay& slot = picture.handed[m];
        if (slot == SlotDisplay{}) continue;
        out << "handed " << m << ": '" << slot.text << "' " << slot.language << " " << slot.status << "\n";
    }
    return out.str();
}

LineMachine machine(std::int16_t number, std::int16_t group, std::string name, bool foreign = false) {
    LineMachine m;
    m.enabled = true;
    m.number = number;
    m.group = group;
    m.name = std::move(name);
    m.foreign = foreign;
    return m;
}

LanguageTable twoLanguages() {
    LanguageTable table;
    table.LanguageCount = 2;
    table.entries[1].Language = 1031;
    table.entries[1].FontName = "DejaVu Serif";
    table.entries[2].Language = 1041;  // names no font
    table.entries[3].Language = 1036;  // beyond the count
    table.entries[3].FontName = "Not counted";
    return table;
}

TEST(LinePicture, ShowsTheReferenceMachinesGroupsWithTheirMachinesAndEachSlotsLook) {
    LineDescription line;
    line.groups[0] = "Rinsing";
    line.groups[2] = "Packing";
    line.groups[31] = "Last";
    line.machines[0] = machine(2, 0, "Rinser");
    line.machines[0].groupSlots = {9, 9, 9, 9, 9, 9};  // not the reference machine: its slots are ignored
    line.machines[0].coName = "R-1";
    line.machines[1] = machine(1, 2, "Filler");
    line.machines[1].groupSlots = {0, 2, -1, 32, 31, 0};
    line.machines[1].remote = true;
    line.machines[2] = machine(3, 0, "Capper");
    line.machines[2].textFlag = true;
    line.machines[3] = machine(0, 2, "Palletiser", true);
    line.machines[3].status = 2;
    line.machines[3].message = "described";
    line.machines[3].languageId = 1041;
    line.machines[4] = machine(0, 2, "Wrapper", true);
    line.machines[5] = machine(4, 0, "Switched off");
    line.machines[5].enabled = false;
    line.machines[63] = machine(5, 31, "Labeller");

    LineValues live{};
    live[3] = {1031, 4, "Jam at infeed"};
    live[1] = {1036, 6, "not for an own machine"};
    LineDisplayState handed{};
    handed[0] = {"Not-Halt", 1031.4, 1};
    handed[1] = {"", 1036, 9};
    handed[2] = {"Druck", std::nan(""), 3};
    handed[3] = {"not shown: foreign", 1033, 5};
    handed[60] = {"", -2147483648.0, 0};  // the 32-bit identifiers' ends are still languages
    handed[61] = {"", 2147483647.0, 0};
    handed[62] = {"", -2147483648.6, 0};
    handed[63] = {"", 3.0e9, 0};
    const LanguageTable languages = twoLanguages();

    const LinePicture picture = linePicture({&line, &live, &handed, true}, &languages);
    EXPECT_EQ(shown(picture),
              "described, connected, reference 1\n"
              "column 0 'Rinsing': 0 2\n"
              "column 2 'Packing': 1 3 4\n"
              "column -1 '(no group)':\n"
              "column -1 '(no group)':\n"
              "column 31 'Last': 63\n"
              "column 0 'Rinsing': 0 2\n"
              "m0 #2 'Rinser' 'R-1' | 1 running 2EA044/FFFFFF | 'Not-Halt' 1031 'DejaVu Serif'\n"
              "m1 #1 'Filler' '' R | 9 unknown C03CC0/FFFFFF | '' 1036 ''\n"
              "m2 #3 'Capper' '' T | 3 message 3AAED8/1A1A1A | 'Druck' 0 ''\n"
              "m3 #0 'Palletiser' '' F | 4 fault D93025/FFFFFF | 'Jam at infeed' 1031 'DejaVu Serif'\n"
              "m4 #0 'Wrapper' '' F | 0 no data A6A6A6/1A1A1A | '' 0 ''\n"
              "m5 off #4 'Switched off' '' | 0 no data A6A6A6/1A1A1A | '' 0 ''\n"
              "m60 off #0 '' '' | 0 no data A6A6A6/1A1A1A | '' -2147483648 ''\n"
              "m61 off #0 '' '' | 0 no data A6A6A6/1A1A1A | '' 2147483647 ''\n"
              "m63 #5 'Labeller' '' | 0 no data A6A6A6/1A1A1A | '' 0 ''\n"
              "handed 0: 'Not-Halt' 1031.4 1\n"
              "handed 1: '' 1036 9\n"
              "handed 2: 'Druck' nan 3\n"
              "handed 3: 'not shown: foreign' 1033 5\n"
              "handed 60: '' -2.14748e+09 0\n"
              "handed 61: '' 2.14748e+09 0\n"
              "handed 62: '' -2.14748e+09 0\n"
              "handed 63: '' 3e+09 0\n");

    // Until the source has sent values a foreign machine shows those of the description.
    const LinePicture described = linePicture({&line, nullptr, &handed, false}, &languages);
    EXPECT_FALSE(described.connected);
    const MachineLook& palletiser = described.machines[3];
    EXPECT_EQ(palletiser.status, 2);
    EXPECT_EQ(palletiser.statusName, "warning");
    EXPECT_EQ(palletiser.colour, (Rgb{0xF2, 0xCB, 0x3A}));
    EXPECT_EQ(palletiser.text, "described");
    EXPECT_EQ(palletiser.language, 1041);
    EXPECT_EQ(palletiser.fontName, "") << "a language that names no font";
    // Without a language table every text is drawn in the view's own font.
    EXPECT_EQ(linePicture({&line, &live, &handed, true}).machines[0].fontName, "");
}

TEST(LinePicture, TheReferenceMachineIsTheFirstEnabledOwnMachineOneElseMachineZero) {
    LineDescription line;
    line.groups[4] = "Four";
    line.groups[7] = "Seven";
    line.machines[0] = machine(2, 4, "Own 2");
    line.machines[0].groupSlots = {4, -1, -1, -1, -1, -1};
    line.machines[1] = machine(1, 7, "Foreign 1", true);  // a foreign machine 1 does not count
    line.machines[1].groupSlots = {7, -1, -1, -1, -1, -1};
    line.machines[2] = machine(1, 7, "Disabled 1");  // nor an own machine 1 that is not enabled
    line.machines[2].enabled = false;
    line.machines[2].groupSlots = {7, -1, -1, -1, -1, -1};
    line.machines[9] = machine(1, 7, "Own 1");
    line.machines[9].groupSlots = {-1, 7, -1, -1, -1, -1};
    line.machines[12] = machine(1, 4, "Second own 1");
    line.machines[12].groupSlots = {4, 4, 4, 4, 4, 4};

    const auto columnsOf = [](const LineDescription& described) {
        const LinePicture picture = linePicture({&described});
        std::string text = std::to_string(picture.referenceMachine) + ":";
        for (const PictureColumn& column : picture.columns) text += " " + column.title;
        return text;
    };
    EXPECT_EQ(columnsOf(line), "9: (no group) Seven (no group) (no group) (no group) (no group)");
    line.machines[9].number = 3;
    EXPECT_EQ(columnsOf(line), "12: Four Four Four Four Four Four");
    line.machines[12].foreign = true;
    EXPECT_EQ(columnsOf(line), "0: Four (no group) (no group) (no group) (no group) (no group)")
        << "no own machine 1: machine 0, whatever it is";
    line.machines[0].foreign = true;
    EXPECT_EQ(columnsOf(line), "0: Four (no group) (no group) (no group) (no group) (no group)");
    line.machines[0].enabled = false;
    EXPECT_EQ(columnsOf(line), "0:") << "machine 0 is not enabled: it names no group";
}

TEST(LinePicture, WithoutADescriptionEverySlotShowsWhatItWasHanded) {
    LineDisplayState handed{};
    handed[7] = {"Alarm", 1031, 4};
    const LinePicture picture = linePicture({nullptr, nullptr, &handed, false});
    EXPECT_EQ(shown(picture),
              "not described, not connected, reference 0\n"
              "m7 off #0 '' '' | 4 fault D93025/FFFFFF | 'Alarm' 1031 ''\n"
              "handed 7: 'Alarm' 1031 4\n");
    EXPECT_EQ(picture.ownMachineText(0), "");
    EXPECT_EQ(shown(linePicture({})), "not described, not connected, reference 0\n") << "nothing handed";
}

TEST(LinePicture, AnOwnMachinesTextIsThatOfTheFirstEnabledOwnSlotStandingForItWithoutATextFlag) {
    LineDescription line;
    line.machines[0] = machine(1, 0, "disabled");
    line.machines[0].enabled = false;
    line.machines[1] = machine(1, 0, "foreign", true);
    line.machines[2] = machine(1, 0, "text flag");
    line.machines[2].textFlag = true;
    line.machines[3] = machine(1, 0, "the one");
    line.machines[4] = machine(1, 0, "a later one");
    line.machines[5] = machine(2, 0, "machine 2");
    line.machines[6] = machine(2, 0, "a later machine 2");
    LineDisplayState handed{};
    for (int m = 0; m <= 6; ++m) handed[static_cast<std::size_t>(m)].text = "text of " + std::to_string(m);
    handed[5].text = "";

    const LinePicture picture = linePicture({&line, nullptr, &handed});
    EXPECT_EQ(picture.ownMachineText(1), "text of 3");
    EXPECT_EQ(picture.ownMachineText(2), "") << "the first slot's empty text, not a later one's";
    EXPECT_EQ(picture.ownMachineText(3), "");
    line.machines[3].number = 2;
    EXPECT_EQ(linePicture({&line, nullptr, &handed}).ownMachineText(1), "text of 4");
    EXPECT_EQ(linePicture({&line, nullptr, &handed}).ownMachineText(2), "text of 3");
}

TEST(LinePicture, EveryStatusHasItsNameAndColourAndTheLegendExplainsThem) {
    std::string legend;
    for (const LegendEntry& entry : statusLegend())
        legend += std::string(entry.label) + " " + hex(entry.colour) + "/" + hex(inkOn(entry.colour)) + "; ";
    EXPECT_EQ(legend,
              "no data A6A6A6/1A1A1A; running 2EA044/FFFFFF; warning F2CB3A/1A1A1A; message 3AAED8/1A1A1A; "
              "fault D93025/FFFFFF; not connected 3C3C3C/FFFFFF; maintenance F2892B/1A1A1A; "
              "other C03CC0/FFFFFF; ");
    for (const int status : {-1, 7, 32767}) {
        EXPECT_EQ(statusName(status), "unknown") << status;
        EXPECT_EQ(statusColour(status), statusColour(7)) << status;
    }
    // The ink turns dark only above the middle: a fill of luminance 140 exactly still takes white.
    EXPECT_EQ(inkOn({140, 140, 140}), (Rgb{0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(inkOn({141, 141, 141}), (Rgb{0x1A, 0x1A, 0x1A}));
    EXPECT_EQ(inkOn({0, 255, 0}), (Rgb{0x1A, 0x1A, 0x1A}));
    EXPECT_EQ(inkOn({0, 0, 255}), (Rgb{0xFF, 0xFF, 0xFF}));
}

TEST(LinePicture, AFontIsLookedUpAmongTheCountedLanguagesOnly) {
    LanguageTable table = twoLanguages();
    EXPECT_EQ(fontNameFor(&table, 1031), "DejaVu Serif");
    EXPECT_EQ(fontNameFor(&table, 1041), "");
    EXPECT_EQ(fontNameFor(&table, 1036), "") << "beyond the count";
    EXPECT_EQ(fontNameFor(nullptr, 1031), "");
    table.entries[2].Language = 0;
    table.entries[2].FontName = "for language 0";
    EXPECT_EQ(fontNameFor(&table, 0), "") << "language 0 is none";
    table.LanguageCount = 3;
    EXPECT_EQ(fontNameFor(&table, 1036), "Not counted");
    table.entries[kLanguageCapacity].Language = 2000;
    table.entries[kLanguageCapacity].FontName = "Last";
    table.LanguageCount = 30000;  // a corrupt count never reads past the table
    EXPECT_EQ(fontNameFor(&table, 2000), "Last");
    EXPECT_EQ(fontNameFor(&table, 9999), "");
    table.LanguageCount = -5;
    EXPECT_EQ(fontNameFor(&table, 1031), "");
}

}  // namespace
}  // namespace orvanta
