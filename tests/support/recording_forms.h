// Doubles of the forms' visible parts: each records what it was asked to show, in order.
#pragma once

#include <string>
#include <vector>

#include "ports/forms.h"

namespace orvanta::testing {

struct RecordingMessageBoxes : MessageBoxes {
    struct Shown {
        std::string text;
        MessageIcon icon;
        std::string title;
    };
    void show(const std::string& text, MessageIcon icon, const std::string& title) override {
        shown.push_back({text, icon, title});
    }
    std::vector<Shown> shown;
};

struct RecordingStartForm : StartFormView {
    float TwipsPerPixelX() const override { return 15.0f; }
    float TwipsPerPixelY() const override { return 15.0f; }
    float Width() const override { return 7800.0f; }
    float Height() const override { return 4740.0f; }
    void move(const FormPosition& to, const FormScreen& on) override {
        position = to;
        screen = on;
        calls.push_back("move");
    }
    void show() override { calls.push_back("show"); }
    void hide() override { calls.push_back("hide"); }
    void unload() override { calls.push_back("unload"); }

    FormPosition position{-1, -1};
    FormScreen screen{-1, -1, false};
    std::vector<std::string> calls;
};

struct RecordingCentralForm : CentralFormView {
    void show() override { calls.push_back("show"); }
    void setFocus() override { calls.push_back("setFocus"); }
    void unload() override { calls.push_back("unload"); }
    void setLabelFehlerCaption(const std::string& caption) override { labelCaption = caption; }
    void setLabelFehlerVisible(bool visible) override { labelVisible = visible; }
    void setConnectionShapeFillColor(std::int32_t colour) override { connectionColour = colour; }

    std::vector<std::string> calls;
    std::string labelCaption = "Label1g";
    bool labelVisible = false;
    std::int32_t connectionColour = 0;
};

struct RecordingApplication : Application {
    void end(int exitCode) override { endedWith.push_back(exitCode); }
    std::vector<int> endedWith;
};

}  // namespace orvanta::testing
