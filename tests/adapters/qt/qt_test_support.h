// One QApplication for all widget tests, on the offscreen platform so that they run without a display.
#pragma once

#include <QApplication>
#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QRect>
#include <QWidget>

namespace orvanta::testing {

inline QApplication& qtApplication() {
    static int argc = 1;
    static char name[] = "orvanta_tests";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        auto* created = new QApplication(argc, argv);
        QApplication::setQuitOnLastWindowClosed(false);
        return created;
    }();
    return *app;
}

inline QImage render(QWidget& widget) { return widget.grab().toImage(); }

inline bool containsColour(const QImage& image, const QRect& area, const QColor& colour) {
    const QRect clipped = area.intersected(image.rect());
    for (int y = clipped.top(); y <= clipped.bottom(); ++y) {
        for (int x = clipped.left(); x <= clipped.right(); ++x) {
            if (image.pixelColor(x, y).rgb() == colour.rgb()) return true;
        }
    }
    return false;
}

}  // namespace orvanta::testing
