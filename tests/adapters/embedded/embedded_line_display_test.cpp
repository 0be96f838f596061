#include "adapters/embedded/embedded_line_display.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/vb_error.h"
#include "support/fixed_clock.h"
#include "support/log_capture.h"
#include "support/manual_event_loop.h"
#include "support/recording_line_events.h"
#include "support/scripted_line_display.h"

namespace orvanta {
namespace {

using Events = std::vector<std::string>;

using RecordingEvents = testing::RecordingLineEvents;

class FakeLineSource : public LineSource {
public:
    void start(LineSourceListener& l) override {
        listener = &l;
        ++starts;
    }
    void stop() override {
        listener = nullptr;
        ++stops;
    }

    LineSourceListener* listener = nullptr;
    int starts = 0;
    int stops = 0;
};

const Events kConnected = {"Connect(-1)", "NewLineParameter", "NewLineData"};
const Events kDisconnected = {"Connect(0)"};
const Events kNewParameters = {"NewLineParameter", "NewLineData"};
const Events kNewData = {"NewLineData"};

LineDescription bottlingLine() {
    LineDescription line;
    line.languageId = 1031;
    line.groups[0] = "Filling";
    line.groups[31] = "Last";
    LineMachine& filler = line.machines[2];
    filler.enabled = true;
    filler.name = "Filler";
    filler.coName = "F-200";
    filler.number = 2;
    filler.remote = true;
    filler.textFlag = true;
    filler.symbol = 7;
    filler.group = 0;
    filler.groupSlots = {0, 1, -1, -1, -1, 31};
    filler.languageId = 1033;
    filler.status = 4;
    filler.message = "own";
    LineMachine& foreign = line.machines[63];
    foreign.enabled = true;
    foreign.foreign = true;
    foreign.languageId = 1036;
    foreign.status = 2;
    foreign.message = "from the file";
    return line;
}

VbError errorOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const VbError& error) {
        return error;
    }
    return VbError(0, "no error", "");
}

const char* nameOf(EmbeddedLineDisplay::Change change) {
    switch (change) {
        case EmbeddedLineDisplay::Change::DataUpdated:
            return "data";
        case EmbeddedLineDisplay::Change::Description:
            return "description";
        case EmbeddedLineDisplay::Change::Values:
            return "values";
        case EmbeddedLineDisplay::Change::Connection:
            return "connection";
    }
    return "?";
}

class EmbeddedLineDisplayTest : public ::testing::Test {
protected:
    testing::ManualEventLoop loop;
    RecordingEvents events;
    FakeLineSource source;
    std::vector<std::string> changes;

    Events delivered() {
        loop.runPending();
        return events.take();
    }
    // The changes the model's observers were told of since the last call.
    void observe(EmbeddedLineDisplay& model) {
        model.addObserver([this](EmbeddedLineDisplay::Change change) { changes.push_back(nameOf(change)); });
    }
    std::vector<std::string> told() { return std::exchange(changes, {}); }
};

using Told = std::vector<std::string>;

TEST_F(EmbeddedLineDisplayTest, GettersAnswerFromTheDescription) {
    EmbeddedLineDisplay model(loop, bottlingLine());
    EXPECT_EQ(model.LanguageId(), 1031);
    EXPECT_TRUE(model.MachineEnabled(2));
    EXPECT_EQ(model.MachineName(2), "Filler");
    EXPECT_EQ(model.MachineCoName(2), "F-200");
    EXPECT_EQ(model.MachineNumber(2), 2);
    EXPECT_TRUE(model.MachineRemote(2));
    EXPECT_TRUE(model.MachineTextFlag(2));
    EXPECT_EQ(model.MachineSymbol(2), 7);
    EXPECT_FALSE(model.MachineForeign(2));
    EXPECT_EQ(model.MachineGroup(2), 0);
    EXPECT_EQ(model.MachineGroupSlot(1, 2), 0);
    EXPECT_EQ(model.MachineGroupSlot(2, 2), 1);
    EXPECT_EQ(model.MachineGroupSlot(6, 2), 31);
    EXPECT_EQ(model.GroupName(0), "Filling");
    EXPECT_EQ(model.GroupName(31), "Last");
    EXPECT_EQ(model.MachineLanguageId(2), 1033);
    EXPECT_EQ(model.MachineStatus(2), 4);
    EXPECT_EQ(model.MachineMessage(2), "own");
    EXPECT_TRUE(model.MachineForeign(63));
    // A foreign machine answers from the description until the source sends values.
    EXPECT_EQ(model.MachineLanguageId(63), 1036);
    EXPECT_EQ(model.MachineStatus(63), 2);
    EXPECT_EQ(model.MachineMessage(63), "from the file");
    EXPECT_FALSE(model.MachineEnabled(0));
    EXPECT_EQ(model.MachineGroup(0), -1);
}

TEST_F(EmbeddedLineDisplayTest, IndexesOutOfRangeAreError9NamingMemberAndIndex) {
    EmbeddedLineDisplay model(loop, bottlingLine());
    struct Case {
        std::function<void()> call;
        std::string named;
    };
    const std::vector<Case> cases = {
        {[&] { model.MachineName(64); }, "MachineName: machine 64 is outside 0..63"},
        {[&] { model.MachineEnabled(-1); }, "MachineEnabled: machine -1"},
        {[&] { model.MachineStatus(-32768); }, "MachineStatus: machine -32768"},
        {[&] { model.MachineMessage(64); }, "MachineMessage: machine 64"},
        {[&] { model.GroupName(32); }, "GroupName: group 32 is outside 0..31"},
        {[&] { model.GroupName(-1); }, "GroupName: group -1"},
        {[&] { model.MachineGroupSlot(0, 2); }, "MachineGroupSlot: slot 0 is outside 1..6"},
        {[&] { model.MachineGroupSlot(7, 2); }, "MachineGroupSlot: slot 7"},
        {[&] { model.MachineGroupSlot(1, 64); }, "MachineGroupSlot: machine 64"},
        {[&] { model.PutMachineText(64, "x"); }, "PutMachineText: machine 64"},
        {[&] { model.PutMachineLanguage(-1, 1031); }, "PutMachineLanguage: machine -1"},
        {[&] { model.PutMachineStatus(100, 1); }, "PutMachineStatus: machine 100"},
        {[&] { model.slotDisplay(64); }, "slotDisplay: machine 64"},
    };
    for (const Case& c : cases) {
        const VbError error = errorOf(c.call);
        EXPECT_EQ(error.number(), kSubscriptOutOfRange) << c.named;
        EXPECT_NE(error.description().find(c.named), std::string::npos) << error.description();
        EXPECT_EQ(error.source(), "LineModel");
    }
}

TEST_F(EmbeddedLineDisplayTest, WithoutADescriptionGettersFailAndTheLineNeverConnects) {
    EmbeddedLineDisplay model(loop, std::nullopt);
    model.subscribe(events);
    for (const auto& call : std::vector<std::function<void()>>{
             [&] { model.LanguageId(); }, [&] { model.MachineEnabled(0); }, [&] { model.GroupName(0); },
             [&] { model.MachineGroupSlot(1, 0); }, [&] { model.MachineStatus(63); }}) {
        const VbError error = errorOf(call);
        EXPECT_EQ(error.number(), kAutomationError);
        EXPECT_NE(error.description().find("not connected"), std::string::npos) << error.description();
    }
    // An index out of range is still the caller's mistake first.
    EXPECT_EQ(errorOf([&] { model.MachineName(64); }).number(), kSubscriptOutOfRange);

    model.Active(true);
    EXPECT_EQ(delivered(), Events{});
    EXPECT_FALSE(model.connected());

    model.PutMachineText(5, "still kept");
    EXPECT_EQ(model.slotDisplay(5).text, "still kept");
}

TEST_F(EmbeddedLineDisplayTest, SettersAndPropertiesAreKeptAndTheWindowIsToldOfEachPass) {
    EmbeddedLineDisplay model(loop, bottlingLine());
    observe(model);

    model.PutMachineText(0, "Füllerstörung");
    model.PutMachineLanguage(0, 1031);
    model.PutMachineStatus(0, 4);
    model.PutMachineText(63, "");
    model.PutMachineStatus(63, -7);
    EXPECT_EQ(model.slotDisplay(0).text, "Füllerstörung");
    EXPECT_EQ(model.slotDisplay(0).language, 1031.0);
    EXPECT_EQ(model.slotDisplay(0).status, 4);
    EXPECT_EQ(model.slotDisplay(63).status, -7);
    EXPECT_EQ(model.slotDisplay(1).text, "");
    EXPECT_EQ(model.slotDisplay(1).status, 0);
    EXPECT_EQ(told(), Told{}) << "the panel is not done with its pass yet";
    const LinePicture picture = model.picture();
    EXPECT_EQ(picture.handed[0], (SlotDisplay{"Füllerstörung", 1031, 4}));
    EXPECT_EQ(picture.handed[63].status, -7);
    EXPECT_EQ(picture.machines[2].name, "Filler") << "described";

    model.LogPath("/nonexistent/line.log");
    model.LogSize(512);
    model.LogDataOn(true);
    model.LogSystemOn(false);
    EXPECT_EQ(model.logPath(), "/nonexistent/line.log");
    EXPECT_EQ(model.logSize(), 512);
    EXPECT_TRUE(model.logDataOn());
    EXPECT_FALSE(model.logSystemOn());

    model.DataUpdated(true);
    model.DataUpdated(false);
    model.DataUpdated(true);
    EXPECT_EQ(model.dataUpdatedCount(), 2);
    EXPECT_TRUE(model.dataUpdated());
    EXPECT_EQ(told(), (Told{"data", "data"}));
}

TEST_F(EmbeddedLineDisplayTest, ActivationConnectsThroughTheLoopAndDeactivationDisconnects) {
    EmbeddedLineDisplay model(loop, bottlingLine());
    model.subscribe(events);
    EXPECT_EQ(delivered(), Events{}) << "no event before Active";

    model.Active(true);
    EXPECT_EQ(events.seen, Events{}) << "events wait for the loop";
    EXPECT_EQ(delivered(), kConnected);
    EXPECT_TRUE(model.connected());
    EXPECT_TRUE(model.active());

    model.Active(true);
    EXPECT_EQ(delivered(), Events{});

    model.Active(false);
    EXPECT_EQ(delivered(), kDisconnected);
    model.Active(false);
    EXPECT_EQ(delivered(), Events{});

    model.Active(true);
    EXPECT_EQ(delivered(), kConnected);
}

TEST_F(EmbeddedLineDisplayTest, TheSourceDecidesTheConnectionOnceActive) {
    {
        EmbeddedLineDisplay model(loop, bottlingLine(), &source);
        model.subscribe(events);
        ASSERT_EQ(source.listener, &model);
        EXPECT_EQ(source.starts, 1);

        model.Active(true);
        EXPECT_EQ(delivered(), Events{}) << "the source has not come online";

        source.listener->lineOnline(true);
        EXPECT_EQ(delivered(), kConnected);
        source.listener->lineOnline(true);
        EXPECT_EQ(delivered(), Events{});

        source.listener->lineOnline(false);
        EXPECT_EQ(delivered(), kDisconnected);
        EXPECT_FALSE(model.connected());

        source.listener->lineOnline(true);
        EXPECT_EQ(delivered(), kConnected);
        EXPECT_EQ(source.stops, 0);
    }
    EXPECT_EQ(source.stops, 1);
    EXPECT_EQ(source.listener, nullptr);
}

TEST_F(EmbeddedLineDisplayTest, ASourceOnlineBeforeActivationConnectsOnActivation) {
    EmbeddedLineDisplay model(loop, bottlingLine(), &source);
    model.subscribe(events);
    source.listener->lineOnline(true);
    source.listener->lineValues(LineValues{});
    source.listener->lineDescription(bottlingLine());
    EXPECT_EQ(delivered(), Events{});

    model.Active(true);
    EXPECT_EQ(delivered(), kConnected);
}

TEST_F(EmbeddedLineDisplayTest, ADescriptionFromTheSourceReplacesTheFileAndRaisesNewLineParameter) {
    EmbeddedLineDisplay model(loop, std::nullopt, &source);
    model.subscribe(events);
    observe(model);
    model.Active(true);
    source.listener->lineOnline(true);
    EXPECT_EQ(delivered(), Events{}) << "no description, no connection";
    EXPECT_FALSE(model.picture().described);

    source.listener->lineDescription(bottlingLine());
    EXPECT_EQ(delivered(), kConnected);
    EXPECT_EQ(model.MachineName(2), "Filler");
    EXPECT_EQ(told(), (Told{"connection", "description"}));
    EXPECT_TRUE(model.picture().described);
    EXPECT_TRUE(model.picture().connected);

    LineDescription renamed = bottlingLine();
    renamed.machines[2].name = "Filler 2";
    renamed.groups[0] = "Abfüllung";
    source.listener->lineDescription(renamed);
    EXPECT_EQ(delivered(), kNewParameters);
    EXPECT_EQ(model.MachineName(2), "Filler 2");
    EXPECT_EQ(model.GroupName(0), "Abfüllung");
    EXPECT_EQ(told(), Told{"description"});
    EXPECT_EQ(model.picture().machines[2].name, "Filler 2");

    source.listener->lineOnline(false);
    EXPECT_EQ(delivered(), kDisconnected);
    EXPECT_EQ(told(), Told{"connection"});
    EXPECT_FALSE(model.picture().connected);
    source.listener->lineDescription(bottlingLine());
    EXPECT_EQ(delivered(), Events{}) << "not connected: the new answers wait for the next connection";
    EXPECT_EQ(model.MachineName(2), "Filler");
}

TEST_F(EmbeddedLineDisplayTest, LiveValuesAnswerForForeignMachinesAndRaiseNewLineData) {
    EmbeddedLineDisplay model(loop, bottlingLine(), &source);
    model.subscribe(events);
    observe(model);
    EXPECT_EQ(model.picture().machines[63].text, "from the file") << "no live values yet";

    LineValues values{};
    values[63] = {1040, 5, "Ausfall"};
    values[2] = {9999, 6, "not for an own machine"};
    source.listener->lineValues(values);
    EXPECT_EQ(delivered(), Events{}) << "not connected yet";
    EXPECT_EQ(told(), Told{"values"});
    EXPECT_EQ(model.picture().machines[63].text, "Ausfall");
    EXPECT_EQ(model.MachineLanguageId(63), 1040);
    EXPECT_EQ(model.MachineStatus(63), 5);
    EXPECT_EQ(model.MachineMessage(63), "Ausfall");
    EXPECT_EQ(model.MachineLanguageId(2), 1033);
    EXPECT_EQ(model.MachineStatus(2), 4);
    EXPECT_EQ(model.MachineMessage(2), "own");

    model.Active(true);
    source.listener->lineOnline(true);
    EXPECT_EQ(delivered(), kConnected);

    values[63] = {1031, 3, "Warnung"};
    source.listener->lineValues(values);
    source.listener->lineValues(values);
    EXPECT_EQ(delivered(), (Events{"NewLineData", "NewLineData"}));
    EXPECT_EQ(model.MachineStatus(63), 3);
    EXPECT_EQ(model.MachineMessage(63), "Warnung");
}

TEST_F(EmbeddedLineDisplayTest, ObserversAreToldInTurnAndMayLeaveOrJoinWhileTheyAreTold) {
    EmbeddedLineDisplay model(loop, bottlingLine());
    Told calls;
    int first = 0;
    int second = 0;
    int third = 0;
    first = model.addObserver([&](EmbeddedLineDisplay::Change) {
        calls.push_back("first");
        model.removeObserver(first);   // itself, while it runs
        model.removeObserver(second);  // and one not yet told in this round
        model.addObserver([&](EmbeddedLineDisplay::Change) { calls.push_back("joined"); });
    });
    second = model.addObserver([&](EmbeddedLineDisplay::Change) { calls.push_back("second"); });
    third = model.addObserver([&](EmbeddedLineDisplay::Change) { calls.push_back("third"); });
    EXPECT_NE(first, second);
    EXPECT_NE(second, third);

    model.DataUpdated(true);
    EXPECT_EQ(calls, (Told{"first", "third"})) << "one that joined hears of the next change";
    model.Active(true);
    EXPECT_EQ(calls, (Told{"first", "third", "third", "joined"}));
    EXPECT_EQ(model.observerCount(), 2u) << "third and joined";
    model.removeObserver(third);
    model.removeObserver(third);  // again, or never added: nothing
    model.removeObserver(9999);
    EXPECT_EQ(model.observerCount(), 1u);
    model.DataUpdated(true);
    EXPECT_EQ(calls, (Told{"first", "third", "third", "joined", "joined"}));
}

TEST_F(EmbeddedLineDisplayTest, PostedEventsArriveInOrderAndOnlyWhileSomeoneListens) {
    EmbeddedLineDisplay model(loop, bottlingLine());
    model.subscribe(events);
    model.Active(true);
    model.Active(false);
    EXPECT_EQ(delivered(), (Events{"Connect(-1)", "NewLineParameter", "NewLineData", "Connect(0)"}))
        << "each event tells what was true when it was raised; the last one tells the present";

    model.Active(true);
    model.unsubscribe();
    EXPECT_EQ(delivered(), Events{});

    RecordingEvents later;
    model.subscribe(later);
    model.Active(false);
    loop.runPending();
    EXPECT_EQ(later.take(), kDisconnected);
    EXPECT_EQ(events.take(), Events{});
}

TEST_F(EmbeddedLineDisplayTest, EventsPostedByAModelThatIsGoneAreDropped) {
    auto model = std::make_unique<EmbeddedLineDisplay>(loop, bottlingLine(), &source);
    model->subscribe(events);
    model->Active(true);
    source.listener->lineOnline(true);
    source.listener->lineValues(LineValues{});
    model.reset();
    EXPECT_EQ(delivered(), Events{});
}

// The model's own log, in a folder of the test's own.
class EmbeddedLineDisplayLogTest : public EmbeddedLineDisplayTest {
protected:
    // What the panel and the source do in one run, with the log set as given.
    std::vector<std::string> logOf(bool systemOn, bool dataOn, std::int32_t sizeKiB = 10) {
        std::filesystem::remove(path);
        EmbeddedLineDisplay model(loop, bottlingLine(), &source, &clock);
        model.subscribe(events);
        source.listener->lineOnline(true);  // before the log is set: not written
        model.LogPath(path);
        model.LogSize(sizeKiB);
        model.LogDataOn(dataOn);
        model.LogSystemOn(systemOn);
        model.Active(true);
        model.PutMachineText(2, "Füller: Störung");
        model.PutMachineLanguage(2, 1031);
        model.PutMachineStatus(2, 4);
        model.DataUpdated(true);
        source.listener->lineValues(LineValues{});
        source.listener->lineDescription(bottlingLine());
        source.listener->lineOnline(false);
        EXPECT_EQ(delivered(), (Events{"Connect(-1)", "NewLineParameter", "NewLineData", "NewLineData",
                                       "NewLineParameter", "NewLineData", "Connect(0)"}));
        return lines();
    }
    std::vector<std::string> lines() const { return capture.lines(); }

    testing::LogCapture capture;  // only its file and reader: the model writes there, the program log never
    const std::string path = capture.settings.LogDateiName;
    testing::FixedClock clock;
};

TEST_F(EmbeddedLineDisplayLogTest, TellsWhatTheModelReceivesAndRaisesInTheCategoriesSwitchedOn) {
    const std::vector<std::string> all = {"S 14:03:07 07.12.2026 Active(True)",
                                          "S 14:03:07 07.12.2026 Raises Connect(True)",
                                          "S 14:03:07 07.12.2026 Raises NewLineParameter",
                                          "D 14:03:07 07.12.2026 Raises NewLineData",
                                          "D 14:03:07 07.12.2026 PutMachineText(2, \"Füller: Störung\")",
                                          "D 14:03:07 07.12.2026 PutMachineLanguage(2, 1031)",
                                          "D 14:03:07 07.12.2026 PutMachineStatus(2, 4)",
                                          "D 14:03:07 07.12.2026 DataUpdated(True)",
                                          "D 14:03:07 07.12.2026 Source sends line values",
                                          "D 14:03:07 07.12.2026 Raises NewLineData",
                                          "S 14:03:07 07.12.2026 Source sends a line description",
                                          "S 14:03:07 07.12.2026 Raises NewLineParameter",
                                          "D 14:03:07 07.12.2026 Raises NewLineData",
                                          "S 14:03:07 07.12.2026 Source offline",
                                          "S 14:03:07 07.12.2026 Raises Connect(False)"};
    EXPECT_EQ(logOf(true, true), all);
    for (const char* category : {"S ", "D "}) {
        std::vector<std::string> only;
        std::copy_if(all.begin(), all.end(), std::back_inserter(only),
                     [&](const std::string& line) { return line.starts_with(category); });
        EXPECT_EQ(logOf(category[0] == 'S', category[0] == 'D'), only) << category;
    }
    EXPECT_EQ(logOf(false, false), std::vector<std::string>{});
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_EQ(logOf(true, true, 1), all) << "the smallest limit";
    EXPECT_EQ(logOf(true, true, 0), std::vector<std::string>{}) << "no size, no log";
}

TEST_F(EmbeddedLineDisplayLogTest, IsShortenedFromItsFrontAtItsLimitLikeTheProgramLog) {
    EmbeddedLineDisplay model(loop, bottlingLine(), &source, &clock);
    model.LogPath(path);
    model.LogSize(10);
    model.LogDataOn(true);
    for (int i = 0; i < 400; ++i)
        model.PutMachineStatus(static_cast<std::int16_t>(i % 64), static_cast<std::int16_t>(i));
    const std::vector<std::string> kept = lines();
    ASSERT_FALSE(kept.empty());
    EXPECT_EQ(kept.front(), "07.12.2026; 14:03:07; File size reduced");
    EXPECT_EQ(kept.back(), "D 14:03:07 07.12.2026 PutMachineStatus(15, 399)");
    EXPECT_LE(std::filesystem::file_size(path), 10u * 1024u);
    // Whole lines, none lost between the marker and the last, and no more than a tenth of the limit gone.
    EXPECT_GT(kept.size(), 180u);
    const int first = 400 - static_cast<int>(kept.size() - 1);
    EXPECT_EQ(kept[1], "D 14:03:07 07.12.2026 PutMachineStatus(" + std::to_string(first % 64) + ", " +
                           std::to_string(first) + ")");
}

TEST(ScriptedLineDisplay, RecordsCallsAnswersFromTheLineAndFailsOnRequest) {
    testing::ScriptedLineDisplay display;
    display.line.machines[3].name = "Labeller";
    display.line.machines[3].groupSlots[1] = 4;
    display.failOn(line_member::kPutMachineText, VbError(440, "broken", "test"), 5);

    EXPECT_EQ(display.MachineName(3), "Labeller");
    EXPECT_EQ(display.MachineGroupSlot(2, 3), 4);
    display.PutMachineText(3, "Fehler");
    EXPECT_EQ(errorOf([&] { display.PutMachineText(5, "x"); }).number(), 440);
    display.PutMachineLanguage(3, 1031);
    EXPECT_EQ(errorOf([&] { display.PutMachineStatus(64, 1); }).number(), kSubscriptOutOfRange);
    display.Active(true);

    EXPECT_EQ(
        display.texts(),
        (std::vector<std::string>{"MachineName(3)", "MachineGroupSlot(2, 3)", "PutMachineText(3, \"Fehler\")",
                                  "PutMachineText(5, \"x\")", "PutMachineLanguage(3, 1031)",
                                  "PutMachineStatus(64, 1)", "Active(True)"}));
    EXPECT_EQ(display.writes().size(), 5u);
    EXPECT_TRUE(display.active);

    RecordingEvents events;
    EXPECT_THROW(display.raiseConnect(-1), std::logic_error);
    display.subscribe(events);
    display.raiseConnect(-1);
    display.raiseNewLineData();
    EXPECT_EQ(events.take(), (Events{"Connect(-1)", "NewLineData"}));
}

}  // namespace
}  // namespace orvanta
