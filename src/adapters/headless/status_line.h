// The one line a second a headless panel prints, so that a person on a terminal sees the line live:
//   line 4 | connected | M1 Not-Halt betätigt | M2 ok | M3 ok | M4 ok | M5 Film fast leer
#pragma once

#include <string>

#include "adapters/embedded/embedded_line_display.h"
#include "central/orvanta_central.h"

namespace orvanta {

std::string statusLine(const OrvantaCentral& central, const EmbeddedLineDisplay& line);

}  // namespace orvanta
