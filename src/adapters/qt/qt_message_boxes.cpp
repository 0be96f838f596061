#include "adapters/qt/qt_message_boxes.h"

#include <QMessageBox>
#include <QString>

namespace orvanta {

void QtMessageBoxes::show(const std::string& text, MessageIcon icon, const std::string& title) {
    QMessageBox box(icon == MessageIcon::Critical ? QMessageBox::Critical : QMessageBox::NoIcon,
                    QString::fromStdString(title), QString::fromStdString(text), QMessageBox::Ok);
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
}

}  // namespace orvanta
