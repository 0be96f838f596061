// The live line page as a person sees it: headless Chromium loads it from the panel's web server, and the
// tests read what the page shows (texts, computed colours and fonts, banners) as the snapshots change, the
// stream breaks off and comes back.
#include <gtest/gtest.h>

#include <QColor>
#include <QImage>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <thread>

#include "adapters/web/web_server.h"
#include "adapters/web/web_snapshot.h"
#include "linepicture/line_picture.h"
#include "report/report_fixture.h"
#include "support/manual_event_loop.h"
#include "support/webdriver.h"

namespace orvanta {
namespace {

using nlohmann::json;
using testing::WebDriver;
using namespace std::chrono_literals;

constexpr history::Millis kMidnight = 1'796'688'000'000;  // 2026-12-08 00:00 UTC, 01:00 in Berlin

std::string css(Rgb c) {
    return "rgb(" + std::to_string(c.red) + ", " + std::to_string(c.green) + ", " + std::to_string(c.blue) +
           ")";
}

void setStatus(MachineLook& m, int status) {
    m.status = static_cast<std::int16_t>(status);
    m.statusName = statusName(status);
    m.colour = statusColour(status);
    m.ink = inkOn(m.colour);
}

// A full line: 64 enabled machines in six groups (11, 11, 11, 11, 10, 10), every status, foreign and
// remote ones, texts in two languages, one with characters that mean something in HTML.
web::Snapshot fullLine() {
    web::Snapshot s;
    s.line = "Pelmar";
    s.seq = 1;
    LinePicture& p = s.picture;
    p.described = true;
    p.connected = true;
    p.referenceMachine = 2;
    const char* titles[] = {"Pressen", "Schweißen", "Lackierung", "Montage", "Prüfung", "Verpackung"};
    const int sizes[] = {11, 11, 11, 11, 10, 10};
    int slot = 0;
    for (int g = 0; g < 6; ++g) {
        PictureColumn column{.group = static_cast<std::int16_t>(g + 3), .title = titles[g], .machines = {}};
        for (int n = 0; n < sizes[g]; ++n) column.machines.push_back(static_cast<std::int16_t>(slot++));
        p.columns.push_back(column);
    }
    const int statuses[] = {1, 1, 2, 3, 4, 5, 6, 0, 9, 1};
    for (int i = 0; i < kLineMachineCount; ++i) {
        MachineLook& m = p.machines[static_cast<std::size_t>(i)];
        m.enabled = true;
        m.name = "M" + std::to_string(i + 1);
        m.coName = i % 3 == 0 ? "Station " + std::to_string(i / 3) : "";
        m.number = static_cast<std::int16_t>(i < 5 ? i + 1 : 0);
        m.foreign = i >= 5 && i % 7 == 0;
        m.remote = i % 5 == 4;
        setStatus(m, statuses[i % 10]);
    }
    p.machines[4].text = "Druck zu niedrig";
    p.machines[4].language = 1031;
    p.machines[6].text = "Давление <низкое> & Co";
    p.machines[6].language = 1049;
    p.machines[6].fontName = "DejaVu Serif";
    s.episodes.push_back({.seq = 2,
                          .machine = 3,
                          .table = 1,
                          .fault = 12,
                          .text = "Druck zu niedrig",
                          .raised = kMidnight + 3'723'000,
                          .published = kMidnight + 3'724'000,
                          .echoed = std::nullopt,
                          .cleared = std::nullopt});
    s.episodes.push_back({.seq = 1,
                          .machine = 1,
                          .table = 2,
                          .fault = 7,
                          .text = "Tür offen",
                          .raised = kMidnight,
                          .published = kMidnight + 1'000,
                          .echoed = kMidnight + 2'000,
                          .cleared = kMidnight + 65'000});
    return s;
}

// What the page shows of its columns and tiles, read as a person would: texts as rendered, colours and
// fonts as computed.
constexpr const char* kReadPicture = R"(
const read = (e) => e ? e.innerText.trim() : null;
return [...document.querySelectorAll('#picture [data-group]')].map((c) => ({
  group: Number(c.dataset.group),
  title: read(c.querySelector('.column-title')),
  tiles: [...c.querySelectorAll('[data-slot]')].map((t) => ({
    slot: Number(t.dataset.slot),
    name: read(t.querySelector('.name')),
    coName: t.querySelector('.co-name').textContent,
    status: read(t.querySelector('.status')),
    text: t.querySelector('.text').textContent,
    marks: read(t.querySelector('.marks')).replace(/\s+/g, ''),
    fill: getComputedStyle(t).backgroundColor,
    ink: getComputedStyle(t.querySelector('.status')).color,
    font: t.querySelector('.text').textContent ? getComputedStyle(t.querySelector('.text')).fontFamily : '',
    dashed: getComputedStyle(t).borderTopStyle === 'dashed',
    visible: t.getBoundingClientRect().width > 50 && t.getBoundingClientRect().height > 30,
  })),
}));)";

json expectedPicture(const web::Snapshot& s) {
    json columns = json::array();
    for (const PictureColumn& c : s.picture.columns) {
        json tiles = json::array();
        for (const std::int16_t slot : c.machines) {
            const MachineLook& m = s.picture.machines[static_cast<std::size_t>(slot)];
            std::string marks = std::string(slot == s.picture.referenceMachine ? "◆" : "") +
                                (m.foreign ? "F" : "") + (m.remote ? "R" : "");
            tiles.push_back(
                {{"slot", slot},
                 {"name", m.name},
                 {"coName", m.coName},
                 {"status", std::string(m.statusName)},
                 {"text", m.text},
                 {"marks", marks},
                 {"fill", css(m.colour)},
                 {"ink", css(m.ink)},
                 {"font", m.text.empty()       ? ""
                          : m.fontName.empty() ? "\"DejaVu Sans\", \"Liberation Sans\", Arial, sans-serif"
                                               : "\"" + m.fontName + "\", sans-serif"},
                 {"dashed", m.foreign},
                 {"visible", true}});
        }
        columns.push_back({{"group", c.group}, {"title", c.title}, {"tiles", tiles}});
    }
    return columns;
}

constexpr const char* kReadAlarms = R"(
return {
  alarm: document.getElementById('line-alarm').innerText.trim().split('\n').map((l) => l.trim()).filter((l) => l),
  state: document.getElementById('line-alarm').dataset.state,
  episodes: [...document.querySelectorAll('#episodes tbody tr')].map((r) => [...r.cells].map((c) => c.innerText)),
};)";

class Browser {
public:
    explicit Browser(const std::vector<std::string>& environment = {"TZ=Europe/Berlin"},
                     const std::vector<std::string>& arguments = {})
        : driver(1200, 900, environment, arguments) {}
    WebDriver driver;

    std::string body(const std::string& name) {
        return driver.run("return document.body.dataset." + name + " ?? null;").get<std::string>();
    }
    bool waitForSeq(std::int64_t seq) {
        return driver.waitUntil("return document.body.dataset.seq === '" + std::to_string(seq) + "';", 10s);
    }
    bool shown(const std::string& id) {
        return driver
            .run(
                "const e = document.getElementById(arguments[0]); return !e.hidden && "
                "e.getBoundingClientRect().height > 0;",
                {id})
            .get<bool>();
    }
};

struct Server {
    testing::ManualEventLoop loop;
    std::unique_ptr<web::WebServer> server;
    std::uint16_t port = 0;

    void start(std::uint16_t at = 0, const std::string& historyFile = {}) {
        web::ServerSettings settings;
        settings.port = at;
        settings.historyFile = historyFile;
        server = std::make_unique<web::WebServer>(
            loop, settings, [](const std::string& message) { ADD_FAILURE() << "server: " << message; });
        port = server->port();
    }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(port) + "/"; }
};

#define SKIP_WITHOUT_BROWSER()                                      \
    if (const std::string why = WebDriver::missing(); !why.empty()) \
    GTEST_SKIP() << why << ": the live page is not shown in a browser"

TEST(WebPage, ShowsTheWholeLineAndFollowsItsAlarms) {
    SKIP_WITHOUT_BROWSER();
    Server server;
    server.start();
    web::Snapshot line = fullLine();
    server.server->publish(web::snapshotJson(line));
    Browser browser;
    browser.driver.go(server.url());

    // The first picture comes with the page.
    ASSERT_EQ(browser.body("seq"), "1");
    EXPECT_EQ(browser.driver.run(kReadPicture), expectedPicture(line));
    const double drawnAfter = std::stod(browser.body("drawnAfterMs"));
    EXPECT_GT(drawnAfter, 0.0);
    EXPECT_LT(drawnAfter, 3000.0);
    RecordProperty("drawnAfterMs", std::to_string(drawnAfter));
    std::printf("the first picture was drawn %.1f ms after the answer began\n", drawnAfter);

    json legend = json::array();
    for (const LegendEntry& e : statusLegend()) legend.push_back({std::string(e.label), css(e.colour)});
    for (const char* mark : {"foreign", "remote", "reference machine"}) legend.push_back({mark, ""});
    EXPECT_EQ(browser.driver.run(R"(return [...document.querySelectorAll('#legend .legend-item')].map((i) => {
        const s = i.querySelector('.swatch'); return [i.innerText.replace(/^[FR◆]\s*/, '').trim(),
        s ? getComputedStyle(s).backgroundColor : '']; });)"),
              legend);
    EXPECT_EQ(browser.driver.run(kReadAlarms),
              json({{"alarm", {"No line alarm.", "Handshake: none"}},
                    {"state", "none"},
                    {"episodes",
                     {{"2026-12-08 02:02:03", "M3 (machine 3)", "1/12", "Druck zu niedrig",
                       "2026-12-08 02:02:04", "", ""},
                      {"2026-12-08 01:00:00", "M1 (machine 1)", "2/7", "Tür offen", "2026-12-08 01:00:01",
                       "2026-12-08 01:00:02", "2026-12-08 01:01:05"}}}}));
    EXPECT_EQ(browser.body("stream"), "open") << browser.driver.log();
    EXPECT_FALSE(browser.shown("stream-banner"));
    EXPECT_FALSE(browser.shown("line-banner"));

    // An alarm on own machine 2: its tile turns to the fault's colour and text, the line's alarm is
    // published and waits for the visualisation; what the stream sends that is no JSON changes nothing.
    browser.driver.run(
        "document.querySelectorAll('[data-slot]').forEach((t) => { t.dataset.drawnBefore = 1; });");
    server.server->publish("{\"seq\": 99, broken");
    MachineLook& second = line.picture.machines[1];
    setStatus(second, 4);
    second.text = "Not-Aus gedrückt";
    second.language = 1031;
    line.seq = 2;
    line.lineAlarm = {.state = web::Handshake::Published,
                      .machine = 2,
                      .table = 1,
                      .fault = 4,
                      .ident = 17,
                      .priority = 9,
                      .text = "Not-Aus gedrückt"};
    line.episodes.push_front({.seq = 3,
                              .machine = 2,
                              .table = 1,
                              .fault = 4,
                              .text = "Not-Aus gedrückt",
                              .raised = kMidnight + 7'200'000,
                              .published = kMidnight + 7'200'500,
                              .echoed = std::nullopt,
                              .cleared = std::nullopt});
    server.server->publish(web::snapshotJson(line));
    ASSERT_TRUE(browser.waitForSeq(2)) << browser.body("seq");
    EXPECT_EQ(browser.driver.run(kReadPicture), expectedPicture(line));
    json alarms = browser.driver.run(kReadAlarms);
    EXPECT_EQ(alarms["alarm"], json({"Not-Aus gedrückt", "M2 (machine 2)", "alarm 1/4", "ident 17",
                                     "priority 9", "Handshake: published — waiting for the visualisation"}));
    EXPECT_EQ(alarms["state"], "published");
    // Only the machine that changed was drawn anew.
    EXPECT_EQ(
        browser.driver.run("return [...document.querySelectorAll('[data-slot]:not([data-drawn-before])')]"
                           ".map((t) => Number(t.dataset.slot));"),
        json({1}));
    ASSERT_EQ(alarms["episodes"].size(), 3u);
    EXPECT_EQ(alarms["episodes"][0], json({"2026-12-08 03:00:00", "M2 (machine 2)", "1/4", "Not-Aus gedrückt",
                                           "2026-12-08 03:00:00", "", ""}));

    // The visualisation shows it.
    line.seq = 3;
    line.lineAlarm.state = web::Handshake::Echoed;
    line.episodes.front().echoed = kMidnight + 7'201'000;
    server.server->publish(web::snapshotJson(line));
    ASSERT_TRUE(browser.waitForSeq(3));
    alarms = browser.driver.run(kReadAlarms);
    EXPECT_EQ(alarms["alarm"].back(), "Handshake: shown by the visualisation");
    EXPECT_EQ(alarms["episodes"][0][5], "2026-12-08 03:00:01");

    // What a person sees: the status colours fill the tiles.
    const std::string png = browser.driver.screenshotPng();
    const QImage image =
        QImage::fromData(reinterpret_cast<const uchar*>(png.data()), static_cast<int>(png.size()));
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.width(), 1200);
    EXPECT_EQ(image.height(), 900);
    for (const int status : {1, 2, 3, 4, 5, 6}) {
        const QColor want(statusColour(status).red, statusColour(status).green, statusColour(status).blue);
        int count = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                const QColor c = image.pixelColor(x, y);
                count += std::abs(c.red() - want.red()) <= 3 && std::abs(c.green() - want.green()) <= 3 &&
                         std::abs(c.blue() - want.blue()) <= 3;
            }
        EXPECT_GT(count, 2000) << statusName(status);
    }

    // A burst: the page ends on the newest snapshot, whichever the stream skipped.
    for (int seq = 4; seq <= 300; ++seq) {
        line.seq = seq;
        setStatus(line.picture.machines[10], seq % 7);
        server.server->publish(web::snapshotJson(line));
    }
    ASSERT_TRUE(browser.waitForSeq(300)) << browser.body("seq");
    EXPECT_EQ(browser.driver.run(kReadPicture), expectedPicture(line));
}

TEST(WebPage, SaysWhenThePanelIsNotReachableAndRecoversByItself) {
    SKIP_WITHOUT_BROWSER();
    Server server;
    server.start();
    web::Snapshot line = fullLine();
    server.server->publish(web::snapshotJson(line));
    Browser browser;
    browser.driver.go(server.url());
    ASSERT_TRUE(browser.driver.waitUntil("return document.body.dataset.stream === 'open';", 10s));
    EXPECT_FALSE(browser.shown("stream-banner"));

    // The panel ends: the page says so and keeps its last picture.
    const std::uint16_t port = server.port;
    server.server.reset();
    ASSERT_TRUE(browser.driver.waitUntil("return document.body.dataset.stream === 'lost';", 10s));
    EXPECT_TRUE(browser.shown("stream-banner"));
    EXPECT_EQ(browser.driver.run("return document.getElementById('stream-banner').innerText;"),
              "Panel not reachable — reconnecting…");
    EXPECT_EQ(browser.driver.run("return document.querySelectorAll('[data-slot]').length;"), 64);

    // Some tries fail while it is away; then it is back, with a new run's snapshots.
    std::this_thread::sleep_for(2500ms);
    server.start(port);
    line.seq = 1;
    setStatus(line.picture.machines[0], 4);
    server.server->publish(web::snapshotJson(line));
    ASSERT_TRUE(browser.driver.waitUntil("return document.body.dataset.stream === 'open';", 10s));
    EXPECT_TRUE(browser.waitForSeq(1));
    EXPECT_FALSE(browser.shown("stream-banner"));
    EXPECT_EQ(browser.driver.run(
                  "return getComputedStyle(document.querySelector('[data-slot=\"0\"]')).backgroundColor;"),
              css(statusColour(4)));
}

TEST(WebPage, SaysPlainlyWhenThereIsNoLineToShowAndWhenTheLineIsDisconnected) {
    SKIP_WITHOUT_BROWSER();
    Server server;
    testing::ReportFolder folder;
    testing::writeKnownHistory(folder.path("history.db"));
    server.start(0, folder.path("history.db"));  // nothing published yet
    // A German browser: the dates it shows are its own, the dates it sends are not.
    Browser browser({"TZ=UTC"}, {"--lang=de-DE", "--accept-lang=de-DE"});
    ASSERT_EQ(browser.driver.run("return navigator.language;"), "de-DE");
    browser.driver.go(server.url());
    constexpr const char* kRead = R"(return {
        notice: [...document.querySelectorAll('#picture .notice')].map((n) => n.innerText),
        tiles: document.querySelectorAll('[data-slot]').length,
        seq: document.body.dataset.seq,
        disconnected: document.body.classList.contains('line-disconnected'),
        banner: document.getElementById('line-banner').hidden ? '' : document.getElementById('line-banner').innerText,
    };)";
    EXPECT_EQ(browser.driver.run(kRead),
              json({{"notice", {"No picture of the line yet: the panel has not sent one."}},
                    {"tiles", 0},
                    {"seq", ""},
                    {"disconnected", false},
                    {"banner", ""}}));

    web::Snapshot line = fullLine();
    line.picture.described = false;
    line.picture.columns.clear();
    server.server->publish(web::snapshotJson(line));
    ASSERT_TRUE(browser.waitForSeq(1));
    EXPECT_EQ(browser.driver.run(kRead),
              json({{"notice", {"No line description: the panel does not know the line it is on."}},
                    {"tiles", 0},
                    {"seq", "1"},
                    {"disconnected", false},
                    {"banner", ""}}));

    // Described, but the reference machine names no group: no columns.
    line = fullLine();
    line.seq = 2;
    line.picture.columns.clear();
    server.server->publish(web::snapshotJson(line));
    ASSERT_TRUE(browser.waitForSeq(2));
    EXPECT_EQ(browser.driver.run(kRead)["notice"],
              json({"No display groups: the line has no own machine 1."}));

    // Without the line: a banner, and the tiles greyed; a display slot without a group is an empty column.
    line = fullLine();
    line.seq = 3;
    line.picture.connected = false;
    line.picture.columns[5] = {.group = kNoDisplayGroup, .title = "(no group)", .machines = {}};
    server.server->publish(web::snapshotJson(line));
    ASSERT_TRUE(browser.waitForSeq(3));
    EXPECT_EQ(browser.driver.run(kRead),
              json({{"notice", json::array()},
                    {"tiles", 54},
                    {"seq", "3"},
                    {"disconnected", true},
                    {"banner",
                     "Line disconnected: the panel has no connection to the line. The picture shows "
                     "the last states it knew."}}));
    EXPECT_EQ(browser.driver.run(R"(const t = document.querySelector('[data-slot="0"]');
        const c = document.querySelector('[data-group="-1"]');
        return [getComputedStyle(t).filter, c.innerText.trim(), c.querySelectorAll('[data-slot]').length];)"),
              json({"grayscale(1)", "(no group)", 0}));
    line.seq = 4;
    line.picture.connected = true;
    server.server->publish(web::snapshotJson(line));
    ASSERT_TRUE(browser.waitForSeq(4));
    EXPECT_EQ(browser.driver.run(kRead)["disconnected"], false);
    EXPECT_FALSE(browser.shown("line-banner"));

    // The report form asks for today by default and opens the report of the period chosen.
    const std::time_t now = std::time(nullptr);
    std::tm today{};
    gmtime_r(&now, &today);
    char date[16];
    std::strftime(date, sizeof date, "%Y-%m-%d", &today);
    EXPECT_EQ(browser.driver.run("return [document.getElementById('report-from').value, "
                                 "document.getElementById('report-to').value];"),
              json({date, date}));
    browser.driver.run(
        "document.getElementById('report-from').value = '2026-12-07';"
        "document.getElementById('report-to').value = '2026-12-08';");
    browser.driver.click("#report-form button[type=submit]");
    std::vector<std::string> windows = browser.driver.windows();
    for (int i = 0; i < 100 && windows.size() < 2; ++i) {
        std::this_thread::sleep_for(50ms);
        windows = browser.driver.windows();
    }
    ASSERT_EQ(windows.size(), 2u);
    browser.driver.switchToWindow(windows[1]);
    EXPECT_EQ(browser.driver.url(), server.url() + "report?from=2026-12-07&to=2026-12-08");
    ASSERT_TRUE(browser.driver.waitUntil("return document.readyState === 'complete';", 10s));
    EXPECT_EQ(browser.driver.run("return [document.querySelector('h1').innerText, "
                                 "document.body.innerText.includes('L1')];"),
              json({"Orvanta line history", true}));

    // A period by name instead of the dates: only it is sent.
    const std::vector<std::string> before = windows;
    browser.driver.switchToWindow(windows[0]);
    browser.driver.run(
        "const last = document.getElementById('report-last');"
        "last.value = 'shift';"
        "last.dispatchEvent(new Event('change'));");
    browser.driver.click("#report-form button[type=submit]");
    for (int i = 0; i < 100 && windows.size() < 3; ++i) {
        std::this_thread::sleep_for(50ms);
        windows = browser.driver.windows();
    }
    ASSERT_EQ(windows.size(), 3u);
    const auto opened = std::find_if(windows.begin(), windows.end(), [&](const std::string& window) {
        return window != before[0] && window != before[1];
    });
    ASSERT_NE(opened, windows.end());
    browser.driver.switchToWindow(*opened);
    EXPECT_EQ(browser.driver.url(), server.url() + "report?last=shift");
}

}  // namespace
}  // namespace orvanta
