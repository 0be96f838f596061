#include "ports/watch_registry.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace orvanta {
namespace {

using WatchId = WatchRegistry::WatchId;

class WatchRegistryTest : public ::testing::Test {
protected:
    WatchId watch(WatchRegistry::VariableId variable, const std::string& name) {
        return watches.add(
            variable, [this, name](const Variant& value) { seen.push_back(name + "=" + toText(value)); });
    }

    WatchRegistry watches;
    std::vector<std::string> seen;
};

TEST_F(WatchRegistryTest, WatchesAreKeptPerVariableInOrderAndAGoneWatchGetsNothing) {
    const WatchId b = watch(0, "b");
    const WatchId a = watch(3, "a");
    const WatchId c = watch(3, "c");
    const WatchId d = watch(3, "d");
    EXPECT_EQ(watches.of(3), (std::vector<WatchId>{a, c, d}));
    EXPECT_EQ(watches.of(0), (std::vector<WatchId>{b}));
    EXPECT_TRUE(watches.of(1).empty());
    EXPECT_TRUE(watches.of(4).empty());
    EXPECT_TRUE(watches.of(99).empty());

    watches.remove(c);
    watches.remove(c);
    watches.remove(12345);
    EXPECT_EQ(watches.of(3), (std::vector<WatchId>{a, d}));
    for (WatchId id : {a, b, c, d}) watches.deliver(id, Variant::integer(7));
    EXPECT_EQ(seen, (std::vector<std::string>{"a=7", "b=7", "d=7"}));
}

TEST_F(WatchRegistryTest, AHandlerMayRemoveItsOwnWatch) {
    WatchId self = 0;
    self = watches.add(1, [&](const Variant& value) {
        watches.remove(self);
        seen.push_back("self=" + toText(value));
    });
    watches.deliver(self, Variant::integer(4));
    watches.deliver(self, Variant::integer(5));
    EXPECT_EQ(seen, (std::vector<std::string>{"self=4"}));
    EXPECT_TRUE(watches.of(1).empty());
}

}  // namespace
}  // namespace orvanta
