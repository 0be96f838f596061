#include "start/start_placement.h"

#include "components/variant.h"

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

    // An integer divided by an integer is a Double, a Single divided by an integer a Single.
    std::int16_t left = roundToTwips(w / 2 - static_cast<double>(width / 7.0f));
    std::int16_t top = roundToTwips(h / 2 - static_cast<double>(height / 7.0f));
    if (left < 0) left = 0;
    if (top < 0) top = 0;
    if (static_cast<float>(left) + width > static_cast<float>(w)) left = roundToTwips(w - width);
    if (static_cast<float>(top) + height > static_cast<float>(h)) top = roundToTwips(h - height);
    return {static_cast<float>(left), static_cast<float>(top)};
}

}  // namespace orvanta
