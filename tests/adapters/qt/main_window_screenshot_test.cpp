// Writes pictures of the windows, for a person to look at:
//   ORVANTA_SCREENSHOT=/tmp/orvanta-main.png ORVANTA_SPLASH_SCREENSHOT=/tmp/orvanta-start.png
//   build/orvanta_tests --gtest_filter='MainWindowScreenshot.*'
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "adapters/embedded/line_description_file.h"
#include "adapters/qt/qt_central_form.h"
#include "adapters/qt/qt_start_form.h"
#include "adapters/qt/qt_test_support.h"
#include "adapters/qt/screenshot.h"
#include "support/manual_event_loop.h"

namespace orvanta {
namespace {

TEST(MainWindowScreenshot, DemoLine) {
    const char* path = std::getenv("ORVANTA_SCREENSHOT");
    if (path == nullptr || *path == '\0') GTEST_SKIP() << "set ORVANTA_SCREENSHOT to the PNG to write";
    testing::qtApplication();

    testing::ManualEventLoop loop;
    EmbeddedLineDisplay model(
        loop, loadLineDescription(ORVANTA_SOURCE_DIR "/demo/plant/Program/Orvanta/Line.json"));
    struct Handed {
        std::int16_t slot;
        std::int16_t status;
        const char* text;
    };
    for (const Handed& h : {Handed{2, 1, ""}, Handed{3, 4, "Bottle burst in the filler bowl"},
                            Handed{4, 2, "Cap chute nearly empty"}, Handed{6, 6, "Glue change due"},
                            Handed{7, 1, ""}, Handed{10, 3, "Format change requested"}}) {
        model.PutMachineStatus(h.slot, h.status);
        model.PutMachineText(h.slot, h.text);
        model.PutMachineLanguage(h.slot, 1033);
    }
    LineValues live{};
    for (int i : {0, 1, 5, 8, 9}) live[static_cast<std::size_t>(i)].status = 1;
    live[8] = {1045, 2, "Film roll low"};
    live[5] = {1033, 5, ""};
    model.lineValues(live);
    model.DataUpdated(true);

    QtCentralForm form(model, [] {});
    form.setConnectionShapeFillColor(65280);
    form.setLabelFehlerCaption("Fault in TimerDaten_Timer: 13 Type mismatch");
    form.setLabelFehlerVisible(true);
    form.show();
    ASSERT_TRUE(saveWidgetScreenshot(form.window(), path));
    EXPECT_TRUE(std::filesystem::exists(path));
    form.unload();
}

TEST(MainWindowScreenshot, StartSplash) {
    const char* path = std::getenv("ORVANTA_SPLASH_SCREENSHOT");
    if (path == nullptr || *path == '\0') GTEST_SKIP() << "set ORVANTA_SPLASH_SCREENSHOT to the PNG to write";
    testing::qtApplication();
    QtStartForm form("Version 0.1.0");
    ASSERT_TRUE(saveWidgetScreenshot(form.window(), path));
}

TEST(Screenshot, AnUnwritablePathIsReportedAsFailure) {
    testing::qtApplication();
    QWidget widget;
    widget.resize(10, 10);
    EXPECT_FALSE(saveWidgetScreenshot(widget, "/nonexistent-folder/shot.png"));
    const auto file = std::filesystem::temp_directory_path() / "orvanta-ui-screenshot-test.png";
    EXPECT_TRUE(saveWidgetScreenshot(widget, file.string()));
    EXPECT_EQ(QImage(QString::fromStdString(file.string())).size(), QSize(10, 10));
    std::filesystem::remove(file);
}

}  // namespace
}  // namespace orvanta
