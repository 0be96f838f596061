// A picture of a window as the operator sees it, for documentation and for checking a plant's layout.
#pragma once

#include <string>

class QWidget;

namespace orvanta {

// Renders widget with its children and saves it as a PNG at path; false when the file cannot be written.
bool saveWidgetScreenshot(QWidget& widget, const std::string& path);

}  // namespace orvanta
