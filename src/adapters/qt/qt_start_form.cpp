#include "adapters/qt/qt_start_form.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QWidget>
#include <utility>

#include "adapters/qt/form_units.h"

namespace orvanta {
namespace {

constexpr int kSplashWidth = 520;
constexpr int kSplashHeight = 316;
constexpr double kTwipsPerInch = 1440.0;

class SplashWindow : public QWidget {
public:
    explicit SplashWindow(QString version)
        : QWidget(nullptr, Qt::SplashScreen | Qt::FramelessWindowHint), version_(std::move(version)) {
        setFixedSize(kSplashWidth, kSplashHeight);
        setWindowTitle(QString::fromUtf8(kApplicationTitle));
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const QRectF area = rect();

        QLinearGradient sky(area.topLeft(), area.bottomLeft());
        sky.setColorAt(0.0, QColor(0x1F, 0x3A, 0x5F));
        sky.setColorAt(1.0, QColor(0x0E, 0x1C, 0x2E));
        p.fillRect(area, sky);

        QFont title = font();
        title.setPixelSize(54);
        title.setBold(true);
        p.setFont(title);
        p.setPen(Qt::white);
        p.drawText(QRectF(32, 28, area.width() - 64, 70), Qt::AlignLeft | Qt::AlignVCenter,
                   QString::fromUtf8(kApplicationTitle));

        QFont subtitle = font();
        subtitle.setPixelSize(18);
        p.setFont(subtitle);
        p.setPen(QColor(0xC8, 0xD8, 0xEA));
        p.drawText(QRectF(34, 98, area.width() - 68, 28), Qt::AlignLeft | Qt::AlignVCenter,
                   QStringLiteral("Operator panel for the production line"));

        drawBottleLine(p, QRectF(0, 150, area.width(), 110));

        QFont small = font();
        small.setPixelSize(13);
        p.setFont(small);
        p.setPen(QColor(0xA8, 0xB8, 0xCA));
        p.drawText(QRectF(34, area.height() - 40, area.width() - 68, 24), Qt::AlignRight | Qt::AlignVCenter,
                   version_);
        p.drawText(QRectF(34, area.height() - 40, area.width() - 68, 24), Qt::AlignLeft | Qt::AlignVCenter,
                   QStringLiteral("Starting..."));
    }

private:
    // A conveyor with a row of bottles moving towards a capper.
    static void drawBottleLine(QPainter& p, const QRectF& band) {
        const double beltTop = band.bottom() - 26;
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0x5A, 0x6B, 0x7D));
        p.drawRoundedRect(QRectF(24, beltTop, band.width() - 48, 12), 6, 6);
        p.setBrush(QColor(0x2C, 0x38, 0x46));
        for (double x = 36; x < band.width() - 36; x += 28) p.drawEllipse(QPointF(x, beltTop + 6), 3, 3);

        const QColor glass(0x4F, 0xC3, 0x8A);
        const QColor cap(0xF2, 0xC9, 0x4C);
        for (int i = 0; i < 11; ++i) {
            const double x = 44 + i * 40;
            const double bottom = beltTop;
            QPainterPath bottle;
            bottle.addRoundedRect(QRectF(x, bottom - 52, 22, 52), 5, 5);
            bottle.addRect(QRectF(x + 7, bottom - 70, 8, 20));
            p.setBrush(glass);
            p.drawPath(bottle.simplified());
            if (i < 6) {
                p.setBrush(cap);
                p.drawRect(QRectF(x + 6, bottom - 75, 10, 6));
            }
        }
        // The capper's head above the seventh bottle.
        p.setBrush(QColor(0xD0, 0xD8, 0xE0));
        p.drawRect(QRectF(44 + 6 * 40 - 6, band.top() - 8, 34, 14));
        p.drawRect(QRectF(44 + 6 * 40 + 7, band.top() + 6, 8, 8));
    }

    QString version_;
};

double logicalDpi(const QWidget& window, bool horizontal) {
    const QScreen* screen = window.screen();
    if (screen == nullptr) return kTwipsPerInch / kDesignTwipsPerPixel;
    const double dpi = horizontal ? screen->logicalDotsPerInchX() : screen->logicalDotsPerInchY();
    return dpi > 0 ? dpi : kTwipsPerInch / kDesignTwipsPerPixel;
}

}  // namespace

QtStartForm::QtStartForm(std::string versionText)
    : window_(std::make_unique<SplashWindow>(QString::fromStdString(versionText))) {}

QtStartForm::~QtStartForm() = default;

float QtStartForm::TwipsPerPixelX() const {
    return static_cast<float>(kTwipsPerInch / logicalDpi(*window_, true));
}

float QtStartForm::TwipsPerPixelY() const {
    return static_cast<float>(kTwipsPerInch / logicalDpi(*window_, false));
}

float QtStartForm::Width() const {
    return static_cast<float>(window_->frameGeometry().width()) * TwipsPerPixelX();
}

float QtStartForm::Height() const {
    return static_cast<float>(window_->frameGeometry().height()) * TwipsPerPixelY();
}

void QtStartForm::move(const FormPosition& position, const FormScreen&) {
    window_->move(twipsToPixels(position.left, TwipsPerPixelX()),
                  twipsToPixels(position.top, TwipsPerPixelY()));
}

void QtStartForm::show() {
    if (unloaded_) return;
    window_->show();
}

void QtStartForm::hide() { window_->hide(); }

void QtStartForm::unload() {
    unloaded_ = true;
    window_->close();
    window_->hide();
}

}  // namespace orvanta
