// Where the start form stands: on the screen the plant configured ("Resolution"), not the real one, so
// the panel looks the same on every workstation of a line. The arithmetic is that of the original forms:
// twips as 16-bit integers, rounded half to even.
#pragma once

#include <cstdint>

#include "ports/forms.h"

namespace orvanta {

struct StartScreen {
    std::int16_t width = 0;   // twips
    std::int16_t height = 0;  // twips
};

// The configured screen in twips. VbError 6 when it does not fit 16 bits.
StartScreen configuredScreen(std::int16_t resolution, float twipsPerPixelX, float twipsPerPixelY);

// withDataInterface -1: off centre and kept on the screen; anything else: centred. VbError 6 when a
// result does not fit 16 bits.
FormPosition placeStartForm(std::int16_t withDataInterface, const StartScreen& screen, float width,
                            float height);

}  // namespace orvanta
