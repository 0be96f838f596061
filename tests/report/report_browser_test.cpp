// The HTML report as a person sees it: headless Chromium renders the report of a demo hour, and the
// screenshot must show the states' colours.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QColor>
#include <QImage>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "linepicture/line_picture.h"
#include "report/report_command.h"
#include "report_fixture.h"
#include "support/running_program.h"

namespace orvanta::report {
namespace {

constexpr const char* kChromium = "/usr/bin/chromium";

// Pixels near the colour: a browser may blend an edge, never the inside of a bar.
int pixelsOf(const QImage& image, Rgb colour) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (std::abs(c.red() - colour.red) <= 6 && std::abs(c.green() - colour.green) <= 6 &&
                std::abs(c.blue() - colour.blue) <= 6)
                ++count;
        }
    return count;
}

TEST(ReportInBrowser, ChromiumShowsTheDemoHoursTimelineInThePanelsColours) {
    if (access(kChromium, X_OK) != 0)
        GTEST_SKIP() << kChromium << " is not installed: the HTML report is not shown";
    testing::ReportFolder folder;
    const std::string history = folder.path("demo.db");
    generateHistory(history, testing::demoHour());
    const std::string html = folder.path("report.html");
    std::ostringstream out;
    std::ostringstream err;
    ASSERT_EQ(runReport({"--format", "html", "--output", html, history}, out, err), kExitReported)
        << err.str();

    const std::string png = folder.path("report.png");
    testing::RunningProgram chromium(
        kChromium, {"--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                    "--disable-background-networking", "--disable-component-update", "--disable-sync",
                    "--user-data-dir=" + folder.path("profile"), "--screenshot=" + png,
                    "--window-size=1200,1600", "file://" + html});
    ASSERT_EQ(chromium.waitForExit(std::chrono::seconds(90)), 0) << chromium.stderrText;
    QImage image(QString::fromStdString(png));
    ASSERT_FALSE(image.isNull()) << png;
    EXPECT_EQ(image.width(), 1200);
    EXPECT_EQ(image.height(), 1600);
    // The timeline's running, fault, warning and gap (no data) areas, the flood bar and line: each state
    // the generated hour holds is on the screen in the panel's colour.
    for (const int status : {0, 1, 2, 3, 4})
        EXPECT_GT(pixelsOf(image, statusColour(status)), 200) << statusName(status);
    EXPECT_GT(pixelsOf(image, {0xFF, 0xFF, 0xFF}), 1200 * 1600 / 4);  // the page's own background
    if (const char* keep = std::getenv("ORVANTA_KEEP_REPORT_SCREENSHOT"))
        std::filesystem::copy_file(png, keep, std::filesystem::copy_options::overwrite_existing);
}

}  // namespace
}  // namespace orvanta::report
