#include "adapters/headless/headless_views.h"

namespace orvanta {

void HeadlessMessageBoxes::show(const std::string& text, MessageIcon icon, const std::string& title) {
    out_ << title << (icon == MessageIcon::Critical ? ": error: " : ": ") << text << std::endl;
}

void HeadlessStartForm::move(const FormPosition& position) {
    out_ << "Orvanta: start form at " << position.left << ", " << position.top << " twips" << std::endl;
}

void HeadlessStartForm::show() { out_ << "Orvanta: start form shown" << std::endl; }
void HeadlessStartForm::hide() { out_ << "Orvanta: start form hidden" << std::endl; }
void HeadlessStartForm::unload() { out_ << "Orvanta: start form unloaded" << std::endl; }

void HeadlessCentralForm::show() { out_ << "Orvanta: main form shown" << std::endl; }
void HeadlessCentralForm::unload() { out_ << "Orvanta: main form unloaded" << std::endl; }

void HeadlessCentralForm::setLabelFehlerCaption(const std::string& caption) {
    out_ << "Orvanta: fault label: " << caption << std::endl;
}

void HeadlessCentralForm::setConnectionShapeFillColor(std::int32_t colour) {
    const char* meaning = colour == 65280 ? " (connected)" : colour == 192 ? " (not connected)" : "";
    out_ << "Orvanta: line connection colour " << colour << meaning << std::endl;
}

}  // namespace orvanta
