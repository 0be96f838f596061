#include "adapters/headless/headless_views.h"

#include <cmath>
#include <cstdio>

namespace orvanta {
namespace {

// The forms are placed in twips; a person thinks of a screen in pixels.
long pixels(float twips, float twipsPerPixel) { return std::lround(twips / twipsPerPixel); }

}  // namespace

void HeadlessMessageBoxes::show(const std::string& text, MessageIcon icon, const std::string& title) {
    out_ << title << (icon == MessageIcon::Critical ? ": error: " : ": ") << text << std::endl;
}

void HeadlessStartForm::move(const FormPosition& position, const FormScreen& screen) {
    out_ << "Orvanta: start window " << (screen.centred ? "centred" : "off centre") << " on "
         << pixels(screen.width, TwipsPerPixelX()) << " x " << pixels(screen.height, TwipsPerPixelY())
         << " pixels, its top left corner at " << pixels(position.left, TwipsPerPixelX()) << ", "
         << pixels(position.top, TwipsPerPixelY()) << std::endl;
}

void HeadlessStartForm::show() { out_ << "Orvanta: start window shown" << std::endl; }
void HeadlessStartForm::hide() { out_ << "Orvanta: start window hidden" << std::endl; }
void HeadlessStartForm::unload() { out_ << "Orvanta: start window closed" << std::endl; }

void HeadlessCentralForm::show() { out_ << "Orvanta: main window shown" << std::endl; }
void HeadlessCentralForm::unload() { out_ << "Orvanta: main window closed" << std::endl; }

void HeadlessCentralForm::setLabelFehlerCaption(const std::string& caption) {
    out_ << "Orvanta: fault line: " << caption << std::endl;
}

void HeadlessCentralForm::setConnectionShapeFillColor(std::int32_t colour) {
    if (colour == kLineConnectedColour || colour == kLineDisconnectedColour) {
        out_ << "Orvanta: line " << (colour == kLineConnectedColour ? "connected" : "not connected")
             << std::endl;
        return;
    }
    // The dialect's &H00BBGGRR, as a person knows a colour.
    char rgb[8];
    std::snprintf(rgb, sizeof rgb, "#%02X%02X%02X", colour & 0xFF, (colour >> 8) & 0xFF,
                  (colour >> 16) & 0xFF);
    out_ << "Orvanta: line connection shown in " << rgb << std::endl;
}

}  // namespace orvanta
