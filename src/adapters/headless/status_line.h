// The one line a second a headless panel prints, so that a person on a terminal sees the line live:
//   line: fault | connected | M1 Not-Halt betätigt | M2 ok | M3 ok | M4 ok | M5 Film fast leer
// The line's status and connection are the panel's, the status named as the line picture names it; each
// own machine's text is the one the line picture shows on the slot that stands for it.
#pragma once

#include <string>

#include "central/central_state.h"
#include "linepicture/line_picture.h"

namespace orvanta {

std::string statusLine(const CentralState& state, const LinePicture& picture);

}  // namespace orvanta
