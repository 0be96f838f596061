// The start form as a frameless splash window of 520 x 316 pixels. The splash picture is drawn, not
// loaded, so that a plant folder needs no image file and the picture stays sharp at any scale.
//
// The start logic places the form in twips on the configured screen; the window converts with the
// screen's own twips per pixel (1440 / its logical dots per inch), as the form's properties did.
#pragma once

#include <memory>
#include <string>

#include "ports/forms.h"

class QWidget;

namespace orvanta {

class QtStartForm : public StartFormView {
public:
    explicit QtStartForm(std::string versionText);
    ~QtStartForm() override;
    QtStartForm(const QtStartForm&) = delete;
    QtStartForm& operator=(const QtStartForm&) = delete;

    float TwipsPerPixelX() const override;
    float TwipsPerPixelY() const override;
    float Width() const override;
    float Height() const override;
    void move(const FormPosition& position, const FormScreen& screen) override;
    void show() override;
    void hide() override;
    // Closes the window for good: a later show() does nothing.
    void unload() override;

    QWidget& window() { return *window_; }

private:
    std::unique_ptr<QWidget> window_;
    bool unloaded_ = false;
};

}  // namespace orvanta
