#include "core/lifetime.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

namespace orvanta {
namespace {

static_assert(!std::is_copy_constructible_v<Lifetime>, "a copy would let work outlive its object");

TEST(Lifetime, GuardedWorkRunsWithItsArgumentsOnlyUntilTheLifetimeEnds) {
    std::vector<std::string> ran;
    auto lifetime = std::make_unique<Lifetime>();
    const Lifetime::Token token = lifetime->token();
    std::function<void(const std::string&, int)> work = lifetime->guard(
        [&](const std::string& text, int number) { ran.push_back(text + std::to_string(number)); });
    std::function<void()> carried = token.guard([&] { ran.push_back("carried"); });

    work("a", 1);
    carried();
    EXPECT_TRUE(token.alive());
    lifetime.reset();
    work("b", 2);
    carried();
    EXPECT_FALSE(token.alive());
    EXPECT_EQ(ran, (std::vector<std::string>{"a1", "carried"}));

    Lifetime ended;
    std::function<void()> late = ended.guard([&] { ran.push_back("late"); });
    ended.end();
    late();
    EXPECT_FALSE(ended.token().alive());
    EXPECT_EQ(ran.size(), 2u) << "work of an ended lifetime does not run, even while its owner stands";
}

}  // namespace
}  // namespace orvanta
