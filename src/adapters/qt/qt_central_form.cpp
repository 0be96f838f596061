#include "adapters/qt/qt_central_form.h"

#include <QCloseEvent>
#include <QLabel>
#include <QPainter>
#include <QPalette>
#include <QPushButton>
#include <utility>

#include "adapters/qt/form_units.h"
#include "adapters/qt/line_picture_widget.h"

namespace orvanta {
namespace {

// The form's design, in twips.
constexpr TwipsRect kClientArea{0, 0, 12000, 9000};
constexpr TwipsRect kBrenkoLineOCX{60, 60, 11865, 8085};
constexpr TwipsRect kConnectionShape{60, 8265, 300, 300};
constexpr TwipsRect kCmdEnd{435, 8205, 1095, 435};
constexpr TwipsRect kLabelFehler{60, 8670, 11865, 210};
constexpr std::int32_t kFormBackColor = 0x00C0C0C0;
constexpr std::int32_t kLabelFehlerForeColor = 0x000000FF;

// The main window; a close request from outside (title bar, window manager) is handed to the program,
// which decides whether and how to end.
class CentralWindow : public QWidget {
public:
    std::function<void()> onCloseRequest;
    bool unloading = false;

protected:
    void closeEvent(QCloseEvent* event) override {
        if (unloading) {
            event->accept();
            return;
        }
        event->ignore();
        if (onCloseRequest) onCloseRequest();
    }
};

}  // namespace

ConnectionShapeWidget::ConnectionShapeWidget(QColor fill, QWidget* parent) : QWidget(parent), fill_(fill) {}

void ConnectionShapeWidget::setFill(const QColor& fill) {
    fill_ = fill;
    update();
}

void ConnectionShapeWidget::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), fill_);
    p.setPen(Qt::black);
    p.setBrush(Qt::NoBrush);
    p.drawRect(rect().adjusted(0, 0, -1, -1));
}

QtCentralForm::QtCentralForm(EmbeddedLineDisplay& model, std::function<void()> onEnd,
                             const LanguageTable* languages)
    : onEnd_(std::move(onEnd)) {
    auto window = std::make_unique<CentralWindow>();
    window->onCloseRequest = [this] {
        if (onEnd_) onEnd_();
    };
    window_ = std::move(window);
    window_->setWindowTitle(QString::fromUtf8(kApplicationTitle));
    window_->setFixedSize(pixelRect(kClientArea).size());
    QPalette palette = window_->palette();
    palette.setColor(QPalette::Window, colourFromBgr(kFormBackColor));
    window_->setPalette(palette);
    window_->setAutoFillBackground(true);

    linePicture_ = new LinePictureWidget(model, languages, window_.get());
    linePicture_->setGeometry(pixelRect(kBrenkoLineOCX));

    connectionShape_ = new ConnectionShapeWidget(colourFromBgr(kFormBackColor), window_.get());
    connectionShape_->setGeometry(pixelRect(kConnectionShape));

    cmdEnd_ = new QPushButton(QStringLiteral("End"), window_.get());
    cmdEnd_->setGeometry(pixelRect(kCmdEnd));
    QObject::connect(cmdEnd_, &QPushButton::clicked, [this] {
        if (onEnd_) onEnd_();
    });

    labelFehler_ = new QLabel(QStringLiteral("Label1g"), window_.get());
    labelFehler_->setGeometry(pixelRect(kLabelFehler));
    // A fault text is shown as it is, never read as markup.
    labelFehler_->setTextFormat(Qt::PlainText);
    QPalette labelPalette = labelFehler_->palette();
    labelPalette.setColor(QPalette::WindowText, colourFromBgr(kLabelFehlerForeColor));
    labelFehler_->setPalette(labelPalette);
    QFont labelFont = labelFehler_->font();
    labelFont.setPixelSize(11);
    labelFehler_->setFont(labelFont);
    labelFehler_->setVisible(false);
}

QtCentralForm::~QtCentralForm() = default;

void QtCentralForm::show() { window_->show(); }

void QtCentralForm::setFocus() {
    window_->raise();
    window_->activateWindow();
}

void QtCentralForm::unload() {
    static_cast<CentralWindow&>(*window_).unloading = true;
    window_->close();
    // A close asked for while the window is handling a close request of its own (the End handler run
    // from the title bar) is refused by Qt; hiding still takes the window off the screen.
    window_->hide();
}

void QtCentralForm::setLabelFehlerCaption(const std::string& caption) {
    labelFehler_->setText(QString::fromStdString(caption));
}

void QtCentralForm::setLabelFehlerVisible(bool visible) { labelFehler_->setVisible(visible); }

void QtCentralForm::setConnectionShapeFillColor(std::int32_t colour) {
    connectionShape_->setFill(colourFromBgr(colour));
}

}  // namespace orvanta
