#include "adapters/qt/qt_central_form.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>

#include "adapters/qt/line_picture_widget.h"
#include "adapters/qt/qt_test_support.h"
#include "support/manual_event_loop.h"

namespace orvanta {
namespace {

using testing::render;

class CentralFormTest : public ::testing::Test {
protected:
    // First, so that it stands before the form is built.
    QApplication& app = testing::qtApplication();
    testing::ManualEventLoop loop;
    EmbeddedLineDisplay model{loop, LineDescription{}};
    int ends = 0;
    QtCentralForm form{model, [this] { ++ends; }};
};

TEST_F(CentralFormTest, ControlsSitWhereTheFormsDesignPutsThem) {
    QWidget& window = form.window();
    EXPECT_EQ(window.windowTitle(), "Orvanta");
    EXPECT_EQ(window.size(), QSize(800, 600));
    EXPECT_EQ(form.linePicture().geometry(), QRect(4, 4, 791, 539));
    EXPECT_EQ(form.connectionShape().geometry(), QRect(4, 551, 20, 20));
    EXPECT_EQ(form.endButton().geometry(), QRect(29, 547, 73, 29));
    EXPECT_EQ(form.endButton().text(), "End");
    EXPECT_EQ(form.labelFehler().geometry(), QRect(4, 578, 791, 14));
    EXPECT_EQ(render(window).pixelColor(400, 596), QColor(0xC0, 0xC0, 0xC0));
}

TEST_F(CentralFormTest, ConnectionShapeShowsTheColourItIsGiven) {
    const QPoint centre = form.connectionShape().geometry().center();
    EXPECT_EQ(render(form.window()).pixelColor(centre), QColor(0xC0, 0xC0, 0xC0));
    form.setConnectionShapeFillColor(65280);
    EXPECT_EQ(render(form.window()).pixelColor(centre), QColor(0, 255, 0));
    form.setConnectionShapeFillColor(192);
    EXPECT_EQ(render(form.window()).pixelColor(centre), QColor(192, 0, 0));
    form.setConnectionShapeFillColor(0x00102030);
    EXPECT_EQ(render(form.window()).pixelColor(centre), QColor(0x30, 0x20, 0x10));
}

TEST_F(CentralFormTest, FaultLabelIsHiddenUntilAFaultIsShownInRed) {
    QLabel& label = form.labelFehler();
    const auto redPixels = [&] {
        const QImage image = render(form.window());
        int count = 0;
        const QRect area = label.geometry();
        for (int y = area.top(); y <= area.bottom(); ++y) {
            for (int x = area.left(); x <= area.right(); ++x) {
                const QColor c = image.pixelColor(x, y);
                count += c.red() > 200 && c.green() < 90 && c.blue() < 90;
            }
        }
        return count;
    };
    EXPECT_FALSE(label.isVisibleTo(&form.window()));
    EXPECT_EQ(label.text(), "Label1g");
    EXPECT_EQ(redPixels(), 0);

    form.setLabelFehlerCaption("Fault in LogEintrag: <b>53</b> File not found");
    form.setLabelFehlerVisible(true);
    EXPECT_TRUE(label.isVisibleTo(&form.window()));
    EXPECT_EQ(label.text(), "Fault in LogEintrag: <b>53</b> File not found");
    EXPECT_EQ(label.textFormat(), Qt::PlainText);
    EXPECT_GT(redPixels(), 10);

    form.setLabelFehlerVisible(false);
    EXPECT_EQ(redPixels(), 0);
}

TEST_F(CentralFormTest, EndButtonAndWindowCloseAskTheProgramToEndOnlyUnloadCloses) {
    form.show();
    form.setFocus();
    EXPECT_TRUE(form.window().isVisible());

    form.endButton().click();
    EXPECT_EQ(ends, 1);
    EXPECT_TRUE(form.window().isVisible());

    form.window().close();
    EXPECT_EQ(ends, 2);
    EXPECT_TRUE(form.window().isVisible()) << "the program decides, not the title bar";

    form.unload();
    EXPECT_FALSE(form.window().isVisible());
    EXPECT_EQ(ends, 2);
}

TEST(CentralFormEnd, AnEndHandlerThatUnloadsFromTheCloseRequestHidesTheWindow) {
    testing::qtApplication();
    testing::ManualEventLoop loop;
    EmbeddedLineDisplay model(loop, LineDescription{});
    QtCentralForm* self = nullptr;
    QtCentralForm form(model, [&] { self->unload(); });
    self = &form;
    form.show();
    form.window().close();
    EXPECT_FALSE(form.window().isVisible());
}

TEST_F(CentralFormTest, LinePictureRepaintsWhenTheModelSaysSo) {
    LineDescription line;
    line.machines[0].enabled = true;
    line.machines[0].number = 1;
    line.machines[0].group = 0;
    line.machines[0].groupSlots = {0, -1, -1, -1, -1, -1};
    testing::ManualEventLoop otherLoop;
    EmbeddedLineDisplay withLine(otherLoop, line);
    QtCentralForm shown(withLine, [] {});
    shown.show();
    QApplication::processEvents();
    withLine.PutMachineStatus(0, 4);
    withLine.DataUpdated(true);
    const QRect tile = *shown.linePicture().tileRect(0);
    const QImage image = render(shown.window());
    const QPoint inTile =
        shown.linePicture().mapTo(&shown.window(), QPoint(tile.left() + 3, tile.center().y()));
    EXPECT_EQ(image.pixelColor(inTile), LinePictureWidget::colourOf(statusColour(4)));
    shown.unload();
}

}  // namespace
}  // namespace orvanta
