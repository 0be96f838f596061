// The whole output of each form for the hand-worked history, compared with the files in
// tests/report/expected/: the figures are checked one by one in line_report_test.cpp; these pin the
// layout, the legends and the pictures, so that a change to any of them is seen and the file renewed
// on purpose (ORVANTA_RENEW_EXPECTED=1 writes them).
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "report/report_command.h"
#include "report_fixture.h"
#include "support/process_locale.h"

namespace orvanta::report {
namespace {

const std::string kExpected = std::string(ORVANTA_SOURCE_DIR) + "/tests/report/expected/";

std::string replaced(std::string text, const std::string& what, const std::string& with) {
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + with.size()))
        text.replace(at, what.size(), with);
    return text;
}

// Also in a German process, as the panel's windowed run has it when its page makes the report: a decimal
// comma would break the pictures' coordinates and the spreadsheet's numbers.
TEST(ReportOutput, EachFormOfTheKnownHistoryIsAsExpected) {
    testing::ReportFolder folder;
    const std::string history = folder.path("known.db");
    testing::writeKnownHistory(history);
    for (const char* locale : {"C", testing::kGermanLocale})
        for (const std::string form : {"text", "csv", "html"}) {
            const testing::ProcessLocale process(locale);
            if (!process.set()) continue;
            SCOPED_TRACE(locale);
            std::ostringstream out;
            std::ostringstream err;
            ASSERT_EQ(runReport({"--format", form, history}, out, err), kExitReported) << err.str();
            // The file's place differs from run to run.
            const std::string produced = replaced(out.str(), history, "HISTORY.db");
            const std::string expectedFile = kExpected + "known." + form;
            if (std::getenv("ORVANTA_RENEW_EXPECTED") != nullptr)
                std::ofstream(expectedFile, std::ios::binary) << produced;
            std::ifstream in(expectedFile, std::ios::binary);
            std::stringstream expected;
            expected << in.rdbuf();
            EXPECT_EQ(produced, expected.str()) << form << ": compare with " << expectedFile;
        }
}

}  // namespace
}  // namespace orvanta::report
