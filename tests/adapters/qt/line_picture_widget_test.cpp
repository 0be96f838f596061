#include "adapters/qt/line_picture_widget.h"

#include <gtest/gtest.h>

#include <set>
#include <utility>

#include "adapters/qt/qt_test_support.h"
#include "support/manual_event_loop.h"

namespace orvanta {
namespace {

using testing::containsColour;
using testing::render;

QColor fillColour(int status) { return LinePictureWidget::colourOf(statusColour(status)); }

LineMachine ownMachine(std::int16_t number, std::int16_t group, std::string name) {
    LineMachine m;
    m.enabled = true;
    m.number = number;
    m.group = group;
    m.name = std::move(name);
    m.coName = "CO-" + std::to_string(number);
    m.groupSlots = {0, 1, 2, -1, 7, -1};
    return m;
}

// Eight own machines, four in group 0 and four in group 1, and a foreign one in group 2.
LineDescription smallLine() {
    LineDescription line;
    line.groups[0] = "Rinsing";
    line.groups[1] = "Filling";
    line.groups[2] = "Packing";
    for (int i = 0; i < 8; ++i) {
        line.machines[static_cast<std::size_t>(i)] =
            ownMachine(static_cast<std::int16_t>(1 + i % 5), static_cast<std::int16_t>(i / 4),
                       "Machine " + std::to_string(i));
    }
    LineMachine& foreign = line.machines[10];
    foreign.enabled = true;
    foreign.foreign = true;
    foreign.remote = true;
    foreign.name = "Palletiser";
    foreign.group = 2;
    foreign.status = 1;
    return line;
}

class LinePictureTest : public ::testing::Test {
protected:
    QApplication& app = testing::qtApplication();
    QColor fillOf(LinePictureWidget& widget, int machine) {
        const auto tile = widget.tileRect(machine);
        if (!tile) return {};
        return render(widget).pixelColor(tile->left() + 3, tile->center().y());
    }

    testing::ManualEventLoop loop;
    EmbeddedLineDisplay model{loop, smallLine()};
};

TEST_F(LinePictureTest, EachStatusCodeFillsItsMachineTileWithItsOwnColour) {
    LinePictureWidget widget(model);
    widget.resize(791, 539);
    const std::int16_t codes[] = {0, 1, 2, 3, 4, 5, 6, 9};
    for (std::int16_t i = 0; i < 8; ++i) model.PutMachineStatus(i, codes[i]);
    model.DataUpdated(true);

    std::set<QRgb> seen;
    for (int i = 0; i < 8; ++i) {
        ASSERT_TRUE(widget.tileRect(i)) << "machine " << i;
        EXPECT_EQ(fillOf(widget, i).rgb(), fillColour(codes[i]).rgb()) << "status " << codes[i];
        seen.insert(fillColour(codes[i]).rgb());
    }
    EXPECT_EQ(seen.size(), 8u) << "every status needs a colour of its own";

    model.PutMachineStatus(0, 4);
    EXPECT_EQ(fillOf(widget, 0).rgb(), fillColour(4).rgb());
}

TEST_F(LinePictureTest, AlarmTextIsDrawnOnTheTileOfItsMachineOnly) {
    LinePictureWidget widget(model);
    widget.resize(791, 539);
    model.PutMachineStatus(1, 1);
    model.PutMachineStatus(2, 1);
    const QRect tile = *widget.tileRect(1);
    const QRect textArea(tile.left() + 2, tile.top() + 50, tile.width() - 4, tile.height() - 54);
    const QColor fill = fillColour(1);

    const QImage before = render(widget);
    for (int y = textArea.top(); y <= textArea.bottom(); ++y) {
        for (int x = textArea.left(); x <= textArea.right(); ++x) {
            ASSERT_EQ(before.pixelColor(x, y).rgb(), fill.rgb()) << "no text yet at " << x << "," << y;
        }
    }

    model.PutMachineText(1, "Overpressure in filler bowl");
    const QImage after = render(widget);
    int changed = 0;
    for (int y = textArea.top(); y <= textArea.bottom(); ++y) {
        for (int x = textArea.left(); x <= textArea.right(); ++x) changed += after.pixelColor(x, y) != fill;
    }
    EXPECT_GT(changed, 30);
    EXPECT_EQ(before.copy(*widget.tileRect(2)), after.copy(*widget.tileRect(2)));
}

TEST_F(LinePictureTest, ForeignMachineShowsItsLiveStatusNotTheDescribedOne) {
    LinePictureWidget widget(model);
    widget.resize(791, 539);
    EXPECT_EQ(fillOf(widget, 10).rgb(), fillColour(1).rgb());

    LineValues values{};
    values[10].status = 4;
    values[10].message = "Jam at infeed";
    model.lineValues(values);
    EXPECT_EQ(fillOf(widget, 10).rgb(), fillColour(4).rgb());
    // The slot of a foreign machine is not what it shows.
    model.PutMachineStatus(10, 6);
    EXPECT_EQ(fillOf(widget, 10).rgb(), fillColour(4).rgb());
}

TEST_F(LinePictureTest, ShowsOnlyEnabledMachinesOfTheDisplayedGroups) {
    LineDescription line = smallLine();
    line.machines[3].enabled = false;
    line.machines[20] = ownMachine(2, 7, "In an out-of-range slot group");
    line.machines[21] = ownMachine(2, 5, "In no displayed group");
    line.machines[0].groupSlots = {0, -1, 40, 7, 1, 2};
    testing::ManualEventLoop otherLoop;
    EmbeddedLineDisplay other(otherLoop, line);
    LinePictureWidget widget(other);
    widget.resize(791, 539);

    EXPECT_TRUE(widget.tileRect(0));
    EXPECT_FALSE(widget.tileRect(3)) << "not enabled";
    EXPECT_TRUE(widget.tileRect(20)) << "group 7 is in slot 4";
    EXPECT_FALSE(widget.tileRect(21));
    EXPECT_TRUE(widget.tileRect(10));
    EXPECT_FALSE(widget.tileRect(64));
    EXPECT_FALSE(render(widget).isNull());
}

TEST_F(LinePictureTest, ACrowdedGroupStaysInsideItsColumnWithoutOverlap) {
    LineDescription line;
    line.machines[0] = ownMachine(1, 0, "First");
    for (int i = 1; i < 40; ++i) line.machines[static_cast<std::size_t>(i)] = ownMachine(2, 0, "M");
    testing::ManualEventLoop otherLoop;
    EmbeddedLineDisplay crowded(otherLoop, line);
    LinePictureWidget widget(crowded);
    widget.resize(791, 539);

    int shown = 0;
    QRect previous;
    for (int i = 0; i < 40; ++i) {
        const auto tile = widget.tileRect(i);
        if (!tile) continue;
        ++shown;
        EXPECT_TRUE(widget.rect().contains(*tile)) << i;
        EXPECT_FALSE(previous.intersects(*tile)) << i;
        EXPECT_GE(tile->height(), 40);
        previous = *tile;
    }
    EXPECT_GT(shown, 5);
    EXPECT_LT(shown, 40);
}

TEST_F(LinePictureTest, NoDescriptionOrNoReferenceMachineDrawsNoTiles) {
    testing::ManualEventLoop otherLoop;
    EmbeddedLineDisplay empty(otherLoop, std::nullopt);
    LinePictureWidget none(empty);
    none.resize(791, 539);
    EXPECT_FALSE(render(none).isNull());
    EXPECT_FALSE(none.tileRect(0));

    // Without an own machine 1 machine 0 names the groups, as it does for the visualisation; when it is
    // not enabled there are none.
    LineDescription foreignOnly;
    foreignOnly.machines[1].enabled = true;
    foreignOnly.machines[1].foreign = true;
    foreignOnly.machines[1].group = 0;
    foreignOnly.machines[0] = foreignOnly.machines[1];
    foreignOnly.machines[0].groupSlots = {0, -1, -1, -1, -1, -1};
    EmbeddedLineDisplay foreign(otherLoop, foreignOnly);
    LinePictureWidget groupsOfMachineZero(foreign);
    groupsOfMachineZero.resize(791, 539);
    EXPECT_TRUE(groupsOfMachineZero.tileRect(1));

    foreignOnly.machines[0].enabled = false;
    foreign.lineDescription(foreignOnly);
    EXPECT_FALSE(groupsOfMachineZero.tileRect(1));
    EXPECT_FALSE(render(groupsOfMachineZero).isNull());
}

TEST_F(LinePictureTest, AlarmTextFontFollowsTheLanguageTable) {
    LanguageTable table;
    table.LanguageCount = 2;
    table.entries[1].Language = 1031;
    table.entries[1].FontName = "DejaVu Serif";
    table.entries[2].Language = 1041;
    LinePictureWidget widget(model, &table);
    const QString defaultFamily = widget.fontForLanguage(0).family();

    EXPECT_EQ(widget.fontForLanguage(1031).family(), "DejaVu Serif");
    EXPECT_EQ(widget.fontForLanguage(1041).family(), defaultFamily) << "no font name: the default";
    EXPECT_EQ(widget.fontForLanguage(1036).family(), defaultFamily);
}

TEST_F(LinePictureTest, TheWidgetLetsGoOfTheModelWhenItIsDestroyed) {
    int updates = 0;
    model.addObserver([&](EmbeddedLineDisplay::Change) { ++updates; });
    {
        LinePictureWidget widget(model);
        LinePictureWidget second(model);
        EXPECT_EQ(model.observerCount(), 3u);
        model.DataUpdated(true);  // both widgets and the other observer, all alive
    }
    EXPECT_EQ(model.observerCount(), 1u);
    model.DataUpdated(true);  // must not reach the destroyed widgets
    EXPECT_EQ(updates, 2);
}

}  // namespace
}  // namespace orvanta
