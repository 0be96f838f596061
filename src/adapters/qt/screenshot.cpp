#include "adapters/qt/screenshot.h"

#include <QPixmap>
#include <QString>
#include <QWidget>

namespace orvanta {

bool saveWidgetScreenshot(QWidget& widget, const std::string& path) {
    const QPixmap picture = widget.grab();
    if (picture.isNull()) return false;
    return picture.save(QString::fromStdString(path), "PNG");
}

}  // namespace orvanta
