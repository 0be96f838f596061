// The visible parts of the two forms, behind small interfaces so that the logic runs without a display.
// The Qt windows implement them for operators; the headless views write what they would show to
// standard error; tests record it.
#pragma once

#include <cstdint>
#include <string>

namespace orvanta {

// A form's position in twips, single precision as the forms keep it.
struct FormPosition {
    float left = 0;
    float top = 0;
};

// The screen a form is placed on, in twips, and how: centred on it, or off centre and kept on it. A view
// that cannot be seen says it to a person (the headless one, in pixels).
struct FormScreen {
    float width = 0;
    float height = 0;
    bool centred = true;
};

inline constexpr const char* kApplicationTitle = "Orvanta";

enum class MessageIcon { None, Critical };

// Modal message boxes with only an OK button; show() returns when the box is closed.
class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;
    virtual void show(const std::string& text, MessageIcon icon, const std::string& title) = 0;
};

// The start form: a splash of 7800 x 4740 twips that places itself on the configured screen.
class StartFormView {
public:
    virtual ~StartFormView() = default;
    virtual float TwipsPerPixelX() const = 0;
    virtual float TwipsPerPixelY() const = 0;
    // The form's outer size in twips.
    virtual float Width() const = 0;
    virtual float Height() const = 0;
    virtual void move(const FormPosition& position, const FormScreen& screen) = 0;
    virtual void show() = 0;
    virtual void hide() = 0;
    virtual void unload() = 0;
};

// The main form's own visible parts: the form, its fault label and its connection indicator.
class CentralFormView {
public:
    virtual ~CentralFormView() = default;
    virtual void show() = 0;
    virtual void setFocus() = 0;
    virtual void unload() = 0;
    virtual void setLabelFehlerCaption(const std::string& caption) = 0;
    virtual void setLabelFehlerVisible(bool visible) = 0;
    // An RGB colour in the dialect's form, &H00BBGGRR: the main form shows the line's connection in
    // kLineConnectedColour or kLineDisconnectedColour.
    virtual void setConnectionShapeFillColor(std::int32_t colour) = 0;
};

inline constexpr std::int32_t kLineConnectedColour = 65280;   // green
inline constexpr std::int32_t kLineDisconnectedColour = 192;  // dark red

// The process itself.
class Application {
public:
    virtual ~Application() = default;
    // Ends the program at once with this exit status: no further handler runs.
    virtual void end(int exitCode) = 0;
};

}  // namespace orvanta
