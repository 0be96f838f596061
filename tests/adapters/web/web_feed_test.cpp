#include "adapters/web/web_feed.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "support/manual_event_loop.h"

namespace orvanta::web {
namespace {

using nlohmann::json;

LineDescription twoMachines() {
    LineDescription line;
    line.groups[0] = "Filling";
    LineMachine& own = line.machines[0];
    own.enabled = true;
    own.number = 2;
    own.group = 0;
    own.name = "Filler <1>";
    own.coName = "F1";
    own.groupSlots = {0, -1, -1, -1, -1, -1};
    LineMachine& foreign = line.machines[5];
    foreign.enabled = true;
    foreign.foreign = true;
    foreign.remote = true;
    foreign.group = 0;
    foreign.name = "Palletiser";
    foreign.status = 4;
    foreign.message = "Jam & stop";
    return line;
}

class WebFeedTest : public ::testing::Test {
protected:
    std::vector<json> published() {
        std::vector<json> out;
        for (const std::string& text : sent) out.push_back(json::parse(text));
        return out;
    }

    testing::ManualEventLoop loop;
    EmbeddedLineDisplay display{loop, twoMachines()};
    std::vector<std::string> sent;
    WebFeed feed{loop, display, "Line 3", [this](std::string text) { sent.push_back(std::move(text)); }};
};

TEST_F(WebFeedTest, OneSnapshotAfterEachBurstOfChangesAndNoneWithoutAChange) {
    loop.runPending();
    ASSERT_EQ(sent.size(), 1u) << "the line as it stands, at once";

    display.PutMachineText(0, "Door open");
    display.PutMachineLanguage(0, 1031);
    display.PutMachineStatus(0, 4);
    display.DataUpdated(true);
    display.DataUpdated(true);
    loop.runPending();
    ASSERT_EQ(sent.size(), 2u) << "a pass's writes make one snapshot";

    display.DataUpdated(true);
    feed.passCompleted(PassOutcome{}, LineRecords{});
    loop.runPending();
    EXPECT_EQ(sent.size(), 2u) << "nothing changed: nothing sent";

    const std::vector<json> snapshots = published();
    EXPECT_EQ(snapshots[0]["seq"], 1);
    EXPECT_EQ(snapshots[1]["seq"], 2);
    EXPECT_EQ(snapshots[0]["machines"][0]["status"], 0);
    EXPECT_EQ(snapshots[1]["machines"][0]["status"], 4);
    EXPECT_EQ(snapshots[1]["machines"][0]["text"], "Door open");
}

TEST_F(WebFeedTest, TheSnapshotCarriesThePictureTheLineAlarmAndTheEpisodes) {
    display.PutMachineText(0, "Door open");
    display.PutMachineLanguage(0, 1031);
    display.PutMachineStatus(0, 4);
    display.DataUpdated(true);

    AlarmDef door;
    door.Fault = 12;
    door.Ident = 4;
    door.Priority = 9;
    door.AlarmText = "door_open";
    PassOutcome pass;
    pass.lineAlarm = {&door, 1, 1};
    pass.shownText[1] = "Door open";
    pass.linePublished = true;
    feed.passCompleted(pass, LineRecords{});
    feed.record(history::EpisodeRaised{.run = 7,
                                       .seq = 1,
                                       .machine = 2,
                                       .table = 1,
                                       .fault = 12,
                                       .textKey = "door_open",
                                       .text = "Door open",
                                       .at = 1000});
    feed.record(history::EpisodePublished{.run = 7, .seq = 1, .at = 1100});
    loop.runPending();

    const json snapshot = json::parse(sent.back());
    const json expectedOwn = {{"slot", 0},           {"enabled", true},  {"name", "Filler <1>"},
                              {"coName", "F1"},      {"number", 2},      {"foreign", false},
                              {"remote", false},     {"status", 4},      {"statusName", "fault"},
                              {"colour", "#d93025"}, {"ink", "#ffffff"}, {"text", "Door open"},
                              {"language", 1031},    {"font", ""}};
    EXPECT_EQ(snapshot["machines"][0], expectedOwn);
    EXPECT_EQ(snapshot["machines"].size(), 64u);
    const json& foreign = snapshot["machines"][5];
    EXPECT_EQ(foreign["text"], "Jam & stop");
    EXPECT_EQ(foreign["foreign"], true);
    EXPECT_EQ(foreign["remote"], true);
    EXPECT_EQ(snapshot["machines"][1]["enabled"], false);
    EXPECT_EQ(snapshot["columns"].size(), 6u);
    EXPECT_EQ(snapshot["columns"][0], (json{{"group", 0}, {"title", "Filling"}, {"machines", {0, 5}}}));
    EXPECT_EQ(snapshot["line"], "Line 3");
    EXPECT_EQ(snapshot["connected"], display.picture().connected);
    EXPECT_EQ(snapshot["legend"].size(), 8u);
    EXPECT_EQ(snapshot["lineAlarm"], (json{{"state", "published"},
                                           {"machine", 1},
                                           {"table", 1},
                                           {"fault", 12},
                                           {"ident", 4},
                                           {"priority", 9},
                                           {"text", "Door open"}}));
    EXPECT_EQ(snapshot["episodes"], (json::array({{{"machine", 2},
                                                   {"table", 1},
                                                   {"fault", 12},
                                                   {"text", "Door open"},
                                                   {"raised", 1000},
                                                   {"published", 1100},
                                                   {"echoed", nullptr},
                                                   {"cleared", nullptr}}})));

    // The echo, then the alarm's end; a table 3 message leads the line with no slot's text.
    pass.linePublished = false;
    pass.lineEchoed = true;
    feed.passCompleted(pass, LineRecords{});
    feed.record(history::EpisodeEchoed{.run = 7, .seq = 1, .at = 1500});
    feed.record(history::EpisodeCleared{.run = 7, .seq = 1, .at = 9000});
    loop.runPending();
    const json echoed = json::parse(sent.back());
    EXPECT_EQ(echoed["lineAlarm"]["state"], "echoed");
    EXPECT_EQ(echoed["episodes"][0]["echoed"], 1500);
    EXPECT_EQ(echoed["episodes"][0]["cleared"], 9000);

    AlarmDef message;
    message.AlarmText = "batch_change";
    PassOutcome leading;
    leading.lineAlarm = {&message, 3, 1};
    leading.linePublished = true;
    feed.passCompleted(leading, LineRecords{});
    feed.passCompleted(leading, LineRecords{});
    loop.runPending();
    EXPECT_EQ(json::parse(sent.back())["lineAlarm"]["text"], "batch_change");
    feed.passCompleted(PassOutcome{}, LineRecords{});
    loop.runPending();
    EXPECT_EQ(json::parse(sent.back())["lineAlarm"], (json{{"state", "none"}}));
}

TEST_F(WebFeedTest, KeepsTheNewestEpisodesOfTheCurrentRun) {
    for (int i = 1; i <= 25; ++i)
        feed.record(history::EpisodeRaised{.run = 7,
                                           .seq = i,
                                           .machine = 1,
                                           .table = 2,
                                           .fault = 1,
                                           .textKey = "k" + std::to_string(i),
                                           .text = "",
                                           .at = i});
    feed.record(history::EpisodeCleared{.run = 7, .seq = 2, .at = 99});   // no longer kept: ignored
    feed.record(history::EpisodeCleared{.run = 6, .seq = 25, .at = 99});  // another run's
    loop.runPending();
    json episodes = json::parse(sent.back())["episodes"];
    ASSERT_EQ(episodes.size(), WebFeed::kRecentEpisodes);
    EXPECT_EQ(episodes.front()["text"], "k25") << "newest first, the key when no slot showed a text";
    EXPECT_EQ(episodes.back()["text"], "k6");
    for (const json& episode : episodes) EXPECT_TRUE(episode["cleared"].is_null());

    const std::size_t before = sent.size();
    feed.record(history::EpisodeCleared{.run = 7, .seq = 25, .at = 2000});
    loop.runPending();
    ASSERT_EQ(sent.size(), before + 1) << "an episode's end alone is news";
    EXPECT_EQ(json::parse(sent.back())["episodes"][0]["cleared"], 2000);

    feed.record(history::EpisodeRaised{
        .run = 8, .seq = 1, .machine = 3, .table = 1, .fault = 2, .textKey = "", .text = "", .at = 500});
    loop.runPending();
    episodes = json::parse(sent.back())["episodes"];
    ASSERT_EQ(episodes.size(), 1u) << "a new run starts the list anew";
    EXPECT_EQ(episodes[0]["machine"], 3);
}

TEST(WebSnapshotJson, ATextThatIsNotUtf8IsShownWithReplacementMarks) {
    Snapshot snapshot;
    snapshot.picture.machines[0].name =
        "Pr\xfc"
        "fer";  // Latin-1, as an old file may hold it
    snapshot.picture.machines[1].name =
        "Pr\xc3\xbc"
        "fer";
    const std::string text = snapshotJson(snapshot);
    const json parsed = json::parse(text);
    EXPECT_EQ(parsed["machines"][0]["name"],
              "Pr\xef\xbf\xbd"
              "fer");
    EXPECT_NE(text.find("\"Pr\xc3\xbc"
                        "fer\""),
              std::string::npos)
        << "UTF-8 goes as it is, not escaped";
}

}  // namespace
}  // namespace orvanta::web
