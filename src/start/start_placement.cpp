#include "start/start_placement.h"

#include <algorithm>

#include "core/variant.h"

namespace orvanta {
namespace {

std::int16_t roundToTwips(double value) { return narrowToInteger(roundHalfEven(value)); }

}  // namespace

StartScreen configuredScreen(std::int16_t resolution, float twipsPerPixelX, float twipsPerPixelY) {
    const float width = static_cast<float>(resolution) * twipsPerPixelX;
    const float heightPixels = resolution == 800 ? 600.0f : resolution == 1024 ? 768.0f : 1024.0f;
    const float height = twipsPerPixelY * heightPixels;
    return {roundToTwips(width), roundToTwips(height)};
}

FormPosition placeStartForm(std::int16_t withDataInterface, const StartScreen& screen, float width,
                            float height) {
    const double w = screen.width;
    const double h = screen.height;
    if (withDataInterface != kTrue)
        return {static_cast<float>((w - width) / 2), static_cast<float>((h - height) / 2)};

    // An integer divided by an integer is a Double, a Single divided by an integer a Single. A form that
    // would stick out on the right or at the bottom is pulled back to the edge. The original first moved
    // a negative position to 0, but a form placed left of (above) the screen is wider (taller) than the
    // screen, so the pull back decides its place either way.
    const std::int16_t left =
        std::min(roundToTwips(w / 2 - static_cast<double>(width / 7.0f)), roundToTwips(w - width));
    const std::int16_t top =
        std::min(roundToTwips(h / 2 - static_cast<double>(height / 7.0f)), roundToTwips(h - height));
    return {static_cast<float>(left), static_cast<float>(top)};
}

}  // namespace orvanta
