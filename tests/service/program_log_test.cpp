#include "service/program_log.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/fixed_clock.h"
#include "support/without_privileges.h"

namespace orvanta {
namespace {

namespace fs = std::filesystem;

struct RecordingForm : CentralFormView {
    void show() override {}
    void setFocus() override {}
    void unload() override {}
    void setLabelFehlerCaption(const std::string& caption) override { captions.push_back(caption); }
    void setLabelFehlerVisible(bool visible) override { visibility.push_back(visible); }
    void setConnectionShapeFillColor(std::int32_t) override {}

    std::vector<std::string> captions;
    std::vector<bool> visibility;
};

const std::string kMarker = "07.12.2026; 14:03:07; File size reduced\r\n";

class ProgramLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        settings_.LogDateiName = (dir_ / "Orvanta.log").string();
        settings_.LogDateiGroesse = 100;
    }
    void TearDown() override { fs::remove_all(dir_); }

    static std::string read(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream content;
        content << in.rdbuf();
        return content.str();
    }
    static void write(const fs::path& path, const std::string& content) {
        std::ofstream(path, std::ios::binary) << content;
    }
    std::string logContent() const { return read(settings_.LogDateiName); }
    std::string temporaryName() const { return settings_.LogDateiName + ".tmp"; }

    // The log after shortening `content` with the smallest limit, whose cut lies at byte 1024.
    std::string shortened(const std::string& content) {
        settings_.LogDateiGroesse = 10;
        write(settings_.LogDateiName, content);
        log_.LogKuerzen();
        return logContent();
    }

    fs::path dir_ =
        fs::temp_directory_path() /
        ("orvanta_log_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    LogSettings settings_;
    testing::FixedClock clock_;
    RecordingForm form_;
    ProgramLog log_{settings_, clock_, form_, dir_.string()};
};

TEST_F(ProgramLogTest, CategoriesFilterLinesAndGiveTheirPrefixesInFixedOrder) {
    log_.LogEintrag("system off", -1, -1, 0, 0);
    log_.LogEintrag("data off", 0, 0, -1, 0);
    EXPECT_FALSE(fs::exists(settings_.LogDateiName));
    EXPECT_TRUE(form_.captions.empty());
    EXPECT_TRUE(form_.visibility.empty());

    log_.LogEintrag("fault", 0, 0, 0, -1);
    log_.LogEintrag("fault and system", 0, -1, 0, -1);
    log_.LogEintrag("all", 0, -1, -1, -1);
    log_.LogEintrag("data is 1", 0, 0, 1, -1);
    settings_.Logdaten = -1;
    log_.LogEintrag("data on", 0, 0, -1, 0);
    log_.LogEintrag("data 1 alone", 0, 0, 1, 0);
    settings_.LogSystem = 1;  // only -1 switches a category on
    log_.LogEintrag("system 1", 0, -1, 0, 0);
    settings_.LogSystem = -1;
    log_.LogEintrag("system on", 0, -1, 0, 0);

    EXPECT_EQ(logContent(),
              "F fault\r\n"
              "F S fault and system\r\n"
              "F D S all\r\n"
              "F data is 1\r\n"
              "D data on\r\n"
              "S system on\r\n");
}

TEST_F(ProgramLogTest, AnyNonZeroShowPutsTheTextWithoutPrefixIntoLabelFehler) {
    log_.LogEintrag("quiet", 0, 0, 0, -1);
    EXPECT_TRUE(form_.captions.empty());
    log_.LogEintrag("12:00:00 07.12.2026 Fault 6; Overflow; x; TimerDaten_Timer", -1, 0, 0, -1);
    log_.LogEintrag("second", 1, 0, 0, -1);
    EXPECT_EQ(form_.captions, (std::vector<std::string>{
                                  "12:00:00 07.12.2026 Fault 6; Overflow; x; TimerDaten_Timer", "second"}));
    EXPECT_EQ(form_.visibility, (std::vector<bool>{true, true}));
}

TEST_F(ProgramLogTest, ALineThatCannotBeWrittenIsLostQuietly) {
    settings_.LogDateiName = "";
    log_.LogEintrag("nowhere", -1, 0, 0, -1);
    EXPECT_EQ(form_.captions, std::vector<std::string>{"nowhere"});

    settings_.LogDateiName = dir_.string();  // a folder
    log_.LogEintrag("folder", 0, 0, 0, -1);
    settings_.LogDateiName = (dir_ / "missing" / "Orvanta.log").string();
    log_.LogEintrag("missing folder", -1, 0, 0, -1);
    EXPECT_FALSE(fs::exists(dir_ / "missing"));
    EXPECT_EQ(form_.captions.size(), 2u);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 0);
}

TEST_F(ProgramLogTest, TheLogIsShortenedOnlyWhenItPassesTheLimit) {
    settings_.LogDateiGroesse = 10;
    const std::string atLimit = std::string(10233, 'a') + "\r\n";  // plus "F x\r\n" gives 10240
    write(settings_.LogDateiName, atLimit);
    log_.LogEintrag("x", 0, 0, 0, -1);
    EXPECT_EQ(logContent(), atLimit + "F x\r\n");

    const std::string oneMore = std::string(1100, 'a') + "\r\nkept\r\n" + std::string(9126, 'b') + "\r\n";
    ASSERT_EQ(oneMore.size() + 5, 10241u);
    write(settings_.LogDateiName, oneMore);
    log_.LogEintrag("y", 0, 0, 0, -1);
    EXPECT_EQ(logContent(), kMarker + "kept\r\n" + std::string(9126, 'b') + "\r\nF y\r\n");
    EXPECT_FALSE(fs::exists(temporaryName()));
}

TEST_F(ProgramLogTest, ShorteningAt100KiBKeepsTheFirstLineThatBeginsAfterByte10240) {
    std::vector<std::string> lines;
    std::string content;
    for (int i = 0; i < 1024; ++i) {
        char head[16];
        std::snprintf(head, sizeof head, "line %04d ", i);
        lines.push_back(std::string(head) + std::string(88, '.') + "\r\n");  // 100 bytes each
        content += lines.back();
    }
    ASSERT_EQ(content.size(), 102400u);
    write(settings_.LogDateiName, content);
    log_.LogEintrag("last", 0, 0, 0, -1);

    // Byte 10240 lies in line 102 (bytes 10201 to 10300), so line 103 is the first one kept.
    std::string expected = kMarker;
    for (std::size_t i = 103; i < lines.size(); ++i) expected += lines[i];
    expected += "F last\r\n";
    EXPECT_EQ(logContent(), expected);
}

TEST_F(ProgramLogTest, TheLineInWhichTheCutFallsIsDroppedWhole) {
    // Byte 1024 is the LF of a CR LF: the line after it is whole and kept, a lone LF with it.
    EXPECT_EQ(shortened(std::string(1022, 'a') + "\r\nkept\r\nmore"), kMarker + "kept\r\nmore\r\n");
    EXPECT_EQ(shortened(std::string(1022, 'a') + "\r\n\nkept\r\n"), kMarker + "\nkept\r\n");
    // Byte 1024 is the CR of a CR LF.
    EXPECT_EQ(shortened(std::string(1023, 'a') + "\r\nkept\r\n"), kMarker + "kept\r\n");
    // Byte 1024 begins a line: that line is the one cut.
    EXPECT_EQ(shortened(std::string(1021, 'a') + "\r\ndropped\r\nkept\r\n"), kMarker + "kept\r\n");
    EXPECT_EQ(shortened(std::string(1022, 'a') + "\rdropped\r\nkept"), kMarker + "kept\r\n");
    EXPECT_EQ(shortened(std::string(1030, 'a') + "\rkept\r\n"), kMarker + "kept\r\n") << "a lone CR";

    // Without a limit every line shortens the log, cutting at its first byte.
    settings_.LogDateiGroesse = 0;
    write(settings_.LogDateiName, "first\r\nsecond\r\n");
    log_.LogEintrag("third", 0, 0, 0, -1);
    EXPECT_EQ(logContent(), kMarker + "second\r\nF third\r\n");
}

TEST_F(ProgramLogTest, LoneCrEndsALineAndLoneLfDoesNot) {
    EXPECT_EQ(shortened(std::string(1030, 'a') + "\r\none\rtwo\nstill two\r\n\r\nthree\r\n\nfour"),
              kMarker + "one\r\ntwo\nstill two\r\n\r\nthree\r\n\nfour\r\n");

    std::string lfOnly;
    while (lfOnly.size() < 20000) lfOnly += "a line that ends in LF only\n";
    EXPECT_EQ(shortened(lfOnly), kMarker);
}

TEST_F(ProgramLogTest, TheOldLogStaysWhenTheShortenedOneCannotBeWritten) {
    const std::string content = std::string(2000, 'a') + "\r\n" + std::string(10000, 'b') + "\r\n";

    fs::create_directories(temporaryName());
    write(fs::path(temporaryName()) / "other", "x");
    EXPECT_EQ(shortened(content), content);
    EXPECT_EQ(read(fs::path(temporaryName()) / "other"), "x");
    fs::remove_all(temporaryName());

    if (fs::exists("/dev/full")) {  // every write fails there as on a full disk
        fs::create_symlink("/dev/full", temporaryName());
        EXPECT_EQ(shortened(content), content);
        EXPECT_FALSE(fs::exists(fs::symlink_status(temporaryName())));
    }

    write(temporaryName(), "left over from an earlier run");
    write(settings_.LogDateiName, content);
    fs::permissions(settings_.LogDateiName, fs::perms::owner_read | fs::perms::owner_write);
    log_.LogKuerzen();
    EXPECT_EQ(logContent(), kMarker + std::string(10000, 'b') + "\r\n");
    EXPECT_EQ(fs::status(settings_.LogDateiName).permissions(),
              fs::perms::owner_read | fs::perms::owner_write)
        << "the shortened log keeps the old one's permissions";
    EXPECT_FALSE(fs::exists(temporaryName()));
}

using testing::withoutPrivileges;

TEST_F(ProgramLogTest, AReadOnlyLogKeepsEveryOldLineAndAReadOnlyFolderMakesNoLog) {
    // Past its limit, so that every line would shorten it; the folder stays writable, which is all a
    // rename over the log needs.
    const std::string content = std::string(2000, 'a') + "\r\n" + std::string(10000, 'b') + "\r\n";
    settings_.LogDateiGroesse = 10;
    write(settings_.LogDateiName, content);
    fs::permissions(settings_.LogDateiName,
                    fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    fs::permissions(dir_, fs::perms::all);
    const fs::path readOnlyFolder = dir_ / "read-only";
    fs::create_directories(readOnlyFolder);
    fs::permissions(readOnlyFolder, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                                        fs::perms::group_exec | fs::perms::others_read |
                                        fs::perms::others_exec);

    const int told = withoutPrivileges([&] {
        int count = 0;
        log_.onTrouble([&](const std::string& problem) {
            count += problem.find(settings_.LogDateiName) != std::string::npos &&
                     problem.find("Permission denied") != std::string::npos;
        });
        for (int i = 0; i < 5; ++i) log_.LogEintrag("lost " + std::to_string(i), 0, 0, 0, -1);
        log_.LogKuerzen();
        const bool said = !appendToLimitedLog(settings_.LogDateiName, 10, "lost too", clock_).empty();
        LogSettings elsewhere = settings_;
        elsewhere.LogDateiName = (readOnlyFolder / "Orvanta.log").string();
        ProgramLog second(elsewhere, clock_, form_, dir_.string());
        second.onTrouble([&](const std::string& problem) {
            count += problem.find(elsewhere.LogDateiName) != std::string::npos;
        });
        for (int i = 0; i < 5; ++i) second.LogEintrag("nowhere", 0, 0, 0, -1);
        return count * 10 + (said ? 1 : 0);
    });
    if (told < 0) GTEST_SKIP() << "cannot drop privileges here";
    EXPECT_EQ(told, 21) << "told once for each log, and appendToLimitedLog says why the line was lost";
    EXPECT_EQ(logContent(), content);
    EXPECT_FALSE(fs::exists(temporaryName()));
    EXPECT_FALSE(fs::exists(readOnlyFolder / "Orvanta.log"));
}

TEST_F(ProgramLogTest, LostLinesAreToldOnceUntilALineIsWrittenAgain) {
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    std::vector<std::string> told;
    log_.onTrouble([&](const std::string& problem) { told.push_back(problem); });
    fs::create_symlink("/dev/full", settings_.LogDateiName);  // every write fails there as on a full disk
    log_.LogEintrag("lost", 0, 0, 0, -1);
    log_.LogHinweis("lost too");
    log_.LogEintrag("and lost", 0, 0, 0, -1);
    ASSERT_EQ(told.size(), 1u);
    EXPECT_EQ(told[0], "Cannot write the log " + settings_.LogDateiName +
                           ": No space left on device; its lines are lost until it can be written again");

    fs::remove(settings_.LogDateiName);
    log_.LogEintrag("written", 0, 0, 0, -1);
    log_.LogHinweis("a notice");
    log_.LogEintrag("system, not written", 0, -1, 0, 0);
    EXPECT_EQ(logContent(), "F written\r\na notice\r\n");
    EXPECT_EQ(told.size(), 1u);

    fs::remove(settings_.LogDateiName);
    fs::create_symlink("/dev/full", settings_.LogDateiName);
    log_.LogEintrag("lost again", 0, 0, 0, -1);
    log_.LogEintrag("and again", 0, 0, 0, -1);
    EXPECT_EQ(told.size(), 2u);
}

// A log kept elsewhere through a link, as on a plant whose log lies on another disk.
TEST_F(ProgramLogTest, ASymlinkedLogIsShortenedInTheFileItNamesAndStaysALink) {
    const fs::path target = dir_ / "elsewhere" / "real.log";
    fs::create_directories(target.parent_path());
    write(target, std::string(2000, 'a') + "\r\n" + std::string(10000, 'b') + "\r\n");
    fs::create_symlink(target, settings_.LogDateiName);
    settings_.LogDateiGroesse = 10;
    log_.LogEintrag("new", 0, 0, 0, -1);
    EXPECT_TRUE(fs::is_symlink(settings_.LogDateiName));
    EXPECT_EQ(read(target), kMarker + std::string(10000, 'b') + "\r\nF new\r\n");
    EXPECT_FALSE(fs::exists(temporaryName()));
    EXPECT_FALSE(fs::exists(target.string() + ".tmp"));

    log_.LogEintrag("next", 0, 0, 0, -1);
    EXPECT_TRUE(fs::is_symlink(settings_.LogDateiName));
    EXPECT_EQ(read(target).substr(read(target).size() - 8), "F next\r\n");
}

TEST_F(ProgramLogTest, LogFileAppendsTimedLinesToLogLogInTheProgramFolder) {
    log_.LogFile("hello", "Service");
    clock_.time = "23:59:58";
    log_.LogFile("again", "Service");
    EXPECT_EQ(read(dir_ / "Log.log"), "14:03:07 hello\r\n23:59:58 again\r\n");

    ProgramLog elsewhere(settings_, clock_, form_, (dir_ / "missing").string());
    elsewhere.LogFile("lost", "Service");
    EXPECT_FALSE(fs::exists(dir_ / "missing"));
}

}  // namespace
}  // namespace orvanta
