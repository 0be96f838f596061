// The forms were laid out in twips and coloured in the dialect's &H00BBGGRR form; the windows work in
// pixels and QColor. Every control's place is kept here in twips, as designed, and converted by one
// helper, so that a number in a layout table can be checked against the form's design at a glance.
#pragma once

#include <QColor>
#include <QRect>
#include <cmath>
#include <cstdint>

namespace orvanta {

// The twips per pixel the forms were designed at (96 dots per inch).
inline constexpr double kDesignTwipsPerPixel = 15.0;

struct TwipsRect {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
};

inline int twipsToPixels(double twips, double twipsPerPixel = kDesignTwipsPerPixel) {
    return static_cast<int>(std::lround(twips / twipsPerPixel));
}

inline QRect pixelRect(const TwipsRect& twips, double twipsPerPixel = kDesignTwipsPerPixel) {
    return {twipsToPixels(twips.left, twipsPerPixel), twipsToPixels(twips.top, twipsPerPixel),
            twipsToPixels(twips.width, twipsPerPixel), twipsToPixels(twips.height, twipsPerPixel)};
}

// &H00BBGGRR: red in the low byte; the high byte is not part of the colour.
inline QColor colourFromBgr(std::int32_t colour) {
    const auto bits = static_cast<std::uint32_t>(colour);
    return QColor(static_cast<int>(bits & 0xFFu), static_cast<int>((bits >> 8) & 0xFFu),
                  static_cast<int>((bits >> 16) & 0xFFu));
}

}  // namespace orvanta
