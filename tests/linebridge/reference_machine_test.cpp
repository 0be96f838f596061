#include "linebridge/reference_machine.h"

#include <gtest/gtest.h>

#include <vector>

namespace orvanta {
namespace {

TEST(ReferenceMachine, AsksTheMachinesInOrderUpToTheFirstOwnMachineOneAndNoFurther) {
    std::vector<int> asked;
    const auto lineOf = [&asked](std::int16_t found) {
        return [&asked, found](std::int16_t machine) {
            asked.push_back(machine);
            return MachineRole{true, false, static_cast<std::int16_t>(machine == found ? 1 : 2)};
        };
    };
    EXPECT_EQ(ReferenceMachine(lineOf(63)), 63);
    ASSERT_EQ(asked.size(), 64u);
    for (int m = 0; m < 64; ++m) EXPECT_EQ(asked[static_cast<std::size_t>(m)], m);

    asked.clear();
    EXPECT_EQ(ReferenceMachine(lineOf(-1)), 0) << "none: machine 0";
    EXPECT_EQ(asked.size(), 64u) << "never past the last machine";
    asked.clear();
    EXPECT_EQ(ReferenceMachine(lineOf(5)), 5);
    EXPECT_EQ(asked, (std::vector<int>{0, 1, 2, 3, 4, 5}));
}

}  // namespace
}  // namespace orvanta
