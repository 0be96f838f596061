// The line picture: what the operator is shown of the line, worked out once for every view of it (the
// panel's window, the status line of a panel without one, the line's display topic, a web page).
//
// Six columns, one per display slot, each holding a display group of the line: the groups the reference
// machine names, the same the bridge hands the visualisation. A column lists the enabled machines of its
// group in the order of their machine index. Every machine slot has its look: name and co-name, the
// foreign (F) and remote (R) marks, a status with its name and colour, and the text shown on it with the
// language and font of that text. Own machines show what the panel handed their slot; foreign machines
// show their live values from the line source, until it has sent any the values of the description.
//
// The picture is plain data, derived from what the line display holds; it knows nothing of pixels.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ports/line_source.h"
#include "refdata/languages.h"

namespace orvanta {

struct Rgb {
    std::uint8_t red = 0;
    std::uint8_t green = 0;
    std::uint8_t blue = 0;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

// A status code's name and fill: 0 no data, 1 running, 2 warning, 3 message, 4 fault, 5 not connected,
// 6 maintenance; any other code is "unknown", in a colour of its own.
std::string_view statusName(int status);
Rgb statusColour(int status);
// Dark ink on a light fill, white on a dark one.
Rgb inkOn(Rgb fill);

struct LegendEntry {
    std::string_view label;
    Rgb colour;
};
// The status colours as a view explains them, the unknown codes last as "other".
const std::array<LegendEntry, 8>& statusLegend();

// The font an alarm text of language is drawn in: the font name of that language in the table, empty
// for the view's own font (no table, language 0, a language the table does not know or names no font for).
std::string fontNameFor(const LanguageTable* languages, std::int32_t language);

// One machine slot as it is shown.
struct MachineLook {
    bool enabled = false;
    std::string name;
    std::string coName;
    std::int16_t number = 0;  // own machine 1..5 the slot stands for
    bool foreign = false;
    bool remote = false;
    bool textFlag = false;
    std::int16_t status = 0;
    std::string_view statusName;
    Rgb colour;
    Rgb ink;  // for whatever is written on the colour
    std::string text;
    std::int32_t language = 0;
    std::string fontName;  // empty: the view's own font
    friend bool operator==(const MachineLook&, const MachineLook&) = default;
};

inline constexpr std::int16_t kNoDisplayGroup = -1;

struct PictureColumn {
    std::int16_t group = kNoDisplayGroup;  // 0..31; kNoDisplayGroup for a slot that shows no group
    std::string title;  // the group's name; "group N" when it has none, "(no group)" without a group
    std::vector<std::int16_t> machines;  // machine indexes, ascending
    friend bool operator==(const PictureColumn&, const PictureColumn&) = default;
};

struct LinePicture {
    bool described = false;  // a line description is present
    bool connected = false;
    std::int16_t referenceMachine = 0;  // meaningful only when described
    // Six, or none: without a description, or when the reference machine is not enabled (it names no
    // group, as the bridge sees it).
    std::vector<PictureColumn> columns;
    std::array<MachineLook, kLineMachineCount> machines;
    // What the panel handed each slot last, as it handed it: what displays elsewhere are sent.
    LineDisplayState handed;

    // The text handed to the slot that stands for own machine number (the first enabled own slot of
    // that number whose status does not come from a status word); empty when none has a text.
    const std::string& ownMachineText(int number) const;
    friend bool operator==(const LinePicture&, const LinePicture&) = default;
};

// What the line display holds, borrowed for the time of one call.
struct LineDisplayContents {
    const LineDescription* description = nullptr;  // none: the line is not described
    const LineValues* liveValues = nullptr;        // none: the source has sent no values yet
    const LineDisplayState* handed = nullptr;      // none: nothing handed
    bool connected = false;
};

// languages: for the fonts of the texts; none leaves every font name empty.
LinePicture linePicture(const LineDisplayContents& contents, const LanguageTable* languages = nullptr);

}  // namespace orvanta
