#include "linebridge/whole_array.h"

#include <gtest/gtest.h>

#include "bridge_writes.h"
#include "support/log_capture.h"
#include "support/recording_variables.h"

namespace orvanta {
namespace {

using namespace orvanta::testing;

constexpr std::string_view kName = "Ch-1.int_linie_s<.li_s_status>";

class WholeArrayTest : public ::testing::Test {
protected:
    // Sets indexes to 5 on the array as the runtime holds it, writes it back; the indexes that went out.
    std::vector<std::size_t> rewrite(std::initializer_list<int> indexes) {
        HandlerFrame frame(capture.log, "Test", Trace::Data);
        WholeArray array(frame, variables, kName);
        for (int index : indexes) array.set(index, 5);
        array.write();
        std::vector<std::size_t> sent;
        array.forEachSent([&](std::size_t at) { sent.push_back(at); });
        return sent;
    }
    std::vector<std::string> faults() const { return capture.linesStartingWith("F "); }

    LogCapture capture;
    RecordingVariables variables;
};

TEST_F(WholeArrayTest, ElementsBeyondTheEndAreOneFaultLineNamingTheirRuns) {
    variables.set(kName, Variant::integerArray({1, 2, 3, 4}));
    EXPECT_EQ(rewrite({-1, 1, 3, 4, 5, 6, 8, 10, 11}), (std::vector<std::size_t>{1, 3}));
    EXPECT_EQ(writeTexts(variables, [](const std::string&) { return true; }),
              (std::vector<std::string>{"li_s_status=[1 5 3 5]"}));
    EXPECT_EQ(faults(), (std::vector<std::string>{
                            "F 14:03:07 07.12.2026 Fault 9; Process variable '" + std::string(kName) +
                            "' holds 4 elements, elements -1, 4..6, 8, 10..11 not stored; Orvanta; Test"}));
}

TEST_F(WholeArrayTest, NothingIsWrittenOrSentAfterAFailedReadAndNothingSentAfterAFailedWrite) {
    variables.set(kName, Variant::integer(7));
    EXPECT_TRUE(rewrite({0, 9}).empty());
    EXPECT_TRUE(variables.writes().empty());
    EXPECT_EQ(faults(), (std::vector<std::string>{"F 14:03:07 07.12.2026 Fault 13; Process variable '" +
                                                  std::string(kName) +
                                                  "' holds Integer, not an array; Orvanta; Test"}));

    capture.clear();
    variables.set(kName, Variant::integerArray({1, 2}));
    variables.failWritesOf(kName, VbError(5, "busy", "Runtime"));
    EXPECT_TRUE(rewrite({0, 1}).empty());
    EXPECT_EQ(faults(), (std::vector<std::string>{"F 14:03:07 07.12.2026 Fault 5; busy; Runtime; Test"}));
}

}  // namespace
}  // namespace orvanta
