// The forms without a display: what a window would show is written as a line to a text stream
// (standard error in the program), so a person on a terminal or a test can follow it.
#pragma once

#include <ostream>

#include "ports/forms.h"

namespace orvanta {

class HeadlessMessageBoxes : public MessageBoxes {
public:
    explicit HeadlessMessageBoxes(std::ostream& out) : out_(out) {}
    void show(const std::string& text, MessageIcon icon, const std::string& title) override;

private:
    std::ostream& out_;
};

// A start form of 7800 x 4740 twips on a screen of 15 twips per pixel.
class HeadlessStartForm : public StartFormView {
public:
    explicit HeadlessStartForm(std::ostream& out) : out_(out) {}
    float TwipsPerPixelX() const override { return 15.0f; }
    float TwipsPerPixelY() const override { return 15.0f; }
    float Width() const override { return 7800.0f; }
    float Height() const override { return 4740.0f; }
    void move(const FormPosition& position, const FormScreen& screen) override;
    void show() override;
    void hide() override;
    void unload() override;

private:
    std::ostream& out_;
};

class HeadlessCentralForm : public CentralFormView {
public:
    explicit HeadlessCentralForm(std::ostream& out) : out_(out) {}
    void show() override;
    void setFocus() override {}
    void unload() override;
    void setLabelFehlerCaption(const std::string& caption) override;
    void setLabelFehlerVisible(bool) override {}
    void setConnectionShapeFillColor(std::int32_t colour) override;

private:
    std::ostream& out_;
};

}  // namespace orvanta
