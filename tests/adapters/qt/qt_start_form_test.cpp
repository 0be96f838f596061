#include "adapters/qt/qt_start_form.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QMessageBox>
#include <QScreen>
#include <QTimer>
#include <cmath>
#include <functional>
#include <set>
#include <vector>

#include "adapters/qt/qt_message_boxes.h"
#include "adapters/qt/qt_test_support.h"

namespace orvanta {
namespace {

TEST(QtStartForm, MeasuresAndPlacesItselfInTwipsOfItsScreen) {
    testing::qtApplication();
    QtStartForm form("Version 0.1.0");
    const double dpi = form.window().screen()->logicalDotsPerInchX();
    ASSERT_GT(dpi, 0);
    EXPECT_FLOAT_EQ(form.TwipsPerPixelX(), static_cast<float>(1440.0 / dpi));
    if (dpi == 96) {  // the offscreen platform's screen
        EXPECT_FLOAT_EQ(form.TwipsPerPixelX(), 15.0f);
        EXPECT_FLOAT_EQ(form.TwipsPerPixelY(), 15.0f);
        EXPECT_FLOAT_EQ(form.Width(), 7800.0f);
        EXPECT_FLOAT_EQ(form.Height(), 4740.0f);
    }
    EXPECT_EQ(form.window().size(), QSize(520, 316));
    EXPECT_FLOAT_EQ(form.Width(), 520 * form.TwipsPerPixelX());

    form.move({3780.0f, 3390.0f}, {15360.0f, 11520.0f, true});
    EXPECT_EQ(form.window().pos(), QPoint(static_cast<int>(std::lround(3780.0 / form.TwipsPerPixelX())),
                                          static_cast<int>(std::lround(3390.0 / form.TwipsPerPixelY()))));
    form.move({-15.0f, 22.0f},
              {-15.0f, 15360.0f, true});  // a missing resolution puts the form left of the screen
    EXPECT_EQ(form.window().x(), static_cast<int>(std::lround(-15.0 / form.TwipsPerPixelX())));
    EXPECT_LT(form.window().x(), 0);
}

TEST(QtStartForm, ShowsASplashAndStaysClosedOnceUnloaded) {
    testing::qtApplication();
    QtStartForm form("Version 0.1.0");
    const QImage splash = testing::render(form.window());
    std::set<QRgb> colours;
    for (int y = 0; y < splash.height(); y += 3) {
        for (int x = 0; x < splash.width(); x += 3) colours.insert(splash.pixel(x, y));
    }
    EXPECT_GT(colours.size(), 20u);
    EXPECT_TRUE(form.window().windowFlags() & Qt::FramelessWindowHint);

    form.show();
    EXPECT_TRUE(form.window().isVisible());
    form.hide();
    EXPECT_FALSE(form.window().isVisible());
    form.show();
    form.unload();
    EXPECT_FALSE(form.window().isVisible());
    form.show();
    EXPECT_FALSE(form.window().isVisible());
}

TEST(QtMessageBoxes, ShowsAModalBoxWithTextTitleIconAndOnlyOk) {
    testing::qtApplication();
    struct Seen {
        QString text, title;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        int buttons = 0;
    };
    std::vector<Seen> seen;
    std::function<void()> answer = [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr) {
            QTimer::singleShot(10, answer);
            return;
        }
        seen.push_back(
            {box->text(), box->windowTitle(), box->icon(), static_cast<int>(box->buttons().size())});
        box->button(QMessageBox::Ok)->click();
    };
    QtMessageBoxes boxes;
    QTimer::singleShot(0, answer);
    boxes.show("Initialisierung fehlgeschlagen!", MessageIcon::Critical, "Orvanta");
    QTimer::singleShot(0, answer);
    boxes.show("Plain", MessageIcon::None, "Other");

    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].text, "Initialisierung fehlgeschlagen!");
    EXPECT_EQ(seen[0].title, "Orvanta");
    EXPECT_EQ(seen[0].icon, QMessageBox::Critical);
    EXPECT_EQ(seen[0].buttons, 1);
    EXPECT_EQ(seen[1].icon, QMessageBox::NoIcon);
    EXPECT_EQ(seen[1].title, "Other");
}

}  // namespace
}  // namespace orvanta
