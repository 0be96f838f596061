// The main form as a Qt window: caption "Orvanta", a client area of 800 x 600 pixels in the form's grey,
// the line picture, the connection indicator, the End button and the fault label. Every control sits
// where the form's design puts it in twips; the pixel places are derived from that table.
//
// The window holds no logic. The End button and the window's own close request both call the end
// callback (the program's End handler); the window closes for real only through unload(), so a window
// closed from its title bar never leaves the program running without a window.
#pragma once

#include <QColor>
#include <QWidget>
#include <functional>
#include <memory>

#include "adapters/embedded/embedded_line_display.h"
#include "ports/forms.h"
#include "refdata/languages.h"

class QLabel;
class QPushButton;

namespace orvanta {

class LinePictureWidget;

// A filled square with a thin black border, like the form's shape control.
class ConnectionShapeWidget : public QWidget {
public:
    explicit ConnectionShapeWidget(QColor fill, QWidget* parent = nullptr);
    void setFill(const QColor& fill);
    QColor fill() const { return fill_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor fill_;
};

class QtCentralForm : public CentralFormView {
public:
    // model and languages must outlive the form; onEnd is what the End button does.
    QtCentralForm(EmbeddedLineDisplay& model, std::function<void()> onEnd,
                  const LanguageTable* languages = nullptr);
    ~QtCentralForm() override;
    QtCentralForm(const QtCentralForm&) = delete;
    QtCentralForm& operator=(const QtCentralForm&) = delete;

    void show() override;
    void setFocus() override;
    void unload() override;
    void setLabelFehlerCaption(const std::string& caption) override;
    void setLabelFehlerVisible(bool visible) override;
    void setConnectionShapeFillColor(std::int32_t colour) override;

    QWidget& window() { return *window_; }
    LinePictureWidget& linePicture() { return *linePicture_; }
    ConnectionShapeWidget& connectionShape() { return *connectionShape_; }
    QPushButton& endButton() { return *cmdEnd_; }
    QLabel& labelFehler() { return *labelFehler_; }

private:
    std::unique_ptr<QWidget> window_;
    LinePictureWidget* linePicture_;
    ConnectionShapeWidget* connectionShape_;
    QPushButton* cmdEnd_;
    QLabel* labelFehler_;
    std::function<void()> onEnd_;
};

}  // namespace orvanta
