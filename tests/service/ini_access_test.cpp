#include "service/ini_access.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "ports/forms.h"
#include "service/file_names.h"
#include "service/ini_file.h"

namespace orvanta {
namespace {

namespace fs = std::filesystem;

struct ShownMessage {
    std::string text;
    MessageIcon icon;
    std::string title;
};

struct RecordingMessageBoxes : MessageBoxes {
    void show(const std::string& text, MessageIcon icon, const std::string& title) override {
        shown.push_back({text, icon, title});
        if (failing) throw std::runtime_error("no display");
    }
    std::vector<ShownMessage> shown;
    bool failing = false;
};

class IniAccessTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ =
            fs::temp_directory_path() /
            ("orvanta_ini_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string write(const std::string& content, const std::string& name = "Program.ini") {
        const fs::path path = dir_ / name;
        fs::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << content;
        return path.string();
    }
    std::string project(const std::string& lines) { return write("[Project]\r\n" + lines); }

    std::string str(const std::string& file, const std::string& entry, std::int16_t report = 0) {
        return ini_.LoadIniString("Project", entry, file, report);
    }
    std::int16_t integer(const std::string& file, const std::string& entry, std::int16_t report = 0) {
        return ini_.LoadIniInteger("Project", entry, file, report);
    }
    std::int16_t boolean(const std::string& file, const std::string& entry, std::int16_t report = 0) {
        return ini_.LoadIniBoolean("Project", entry, file, report);
    }

    fs::path dir_;
    RecordingMessageBoxes boxes_;
    IniAccess ini_{boxes_};
};

TEST_F(IniAccessTest, MissingFileSectionOrEntryGivesTheDefaultsSilently) {
    const std::string missingFile = (dir_ / "nowhere.ini").string();
    const std::string other = write("[Other]\nResolution=5\nLogFileSystem=true\nLogFileName=x\n");
    const std::string file = project("Something=1\n");
    for (const std::string& f : {missingFile, other, file}) {
        EXPECT_EQ(str(f, "LogFileName"), "");
        EXPECT_EQ(integer(f, "Resolution"), -1);
        EXPECT_EQ(boolean(f, "LogFileSystem"), 0);
    }
    EXPECT_TRUE(boxes_.shown.empty());
}

TEST_F(IniAccessTest, ReportFlagShowsTheNotFoundMessage) {
    const std::string file = project("LogFileName=\nLogFileSystem=yes\nLogFileData=false\nResolution=5\n");
    const std::string expected =
        "File '" + file + "' or Section [Project] or Entry 'LogFileSystem' not found";

    EXPECT_EQ(boolean(file, "LogFileSystem", -1), 0);
    ASSERT_EQ(boxes_.shown.size(), 1u);
    EXPECT_EQ(boxes_.shown[0].text, expected);
    EXPECT_EQ(boxes_.shown[0].icon, MessageIcon::None);
    EXPECT_EQ(boxes_.shown[0].title, kApplicationTitle);

    EXPECT_EQ(boolean(file, "LogFileData", -1), 0);  // FALSE is a proper answer
    EXPECT_EQ(integer(file, "Resolution", -1), 5);
    EXPECT_EQ(boxes_.shown.size(), 1u);

    EXPECT_EQ(str(file, "LogFileName", -1), "");  // present but empty counts as missing
    EXPECT_EQ(integer(file, "Missing", -1), -1);
    EXPECT_EQ(boolean(file, "Missing", -1), 0);
    EXPECT_EQ(str(file, "LogFileName", 1), "");  // only -1 asks for the message
    ASSERT_EQ(boxes_.shown.size(), 4u);
    EXPECT_EQ(boxes_.shown[1].text,
              "File '" + file + "' or Section [Project] or Entry 'LogFileName' not found");
    EXPECT_EQ(boxes_.shown[2].text, "File '" + file + "' or Section [Project] or Entry 'Missing' not found");
}

TEST_F(IniAccessTest, IntegersAreReadFromTheStartOfTheValueAndKeepTheirLow16Bits) {
    const std::string file = project(
        "A=1024\nB=abc\nC=70000\nD=65535\nE=-12\nF=+7\nG=12abc\nH=\nI=12345678901234567890\nJ=-70000\n"
        "K=0x10\nL=\"42\"\nM= - 3\n");
    EXPECT_EQ(integer(file, "A"), 1024);
    EXPECT_EQ(integer(file, "B"), 0);
    EXPECT_EQ(integer(file, "C"), 4464);
    EXPECT_EQ(integer(file, "D"), -1);
    EXPECT_EQ(integer(file, "E"), -12);
    EXPECT_EQ(integer(file, "F"), 7);
    EXPECT_EQ(integer(file, "G"), 12);
    EXPECT_EQ(integer(file, "H"), 0);
    EXPECT_EQ(integer(file, "I"), 2770);  // wraps around in 32 bits, never overflows
    EXPECT_EQ(integer(file, "J"), -4464);
    EXPECT_EQ(integer(file, "K"), 0);
    EXPECT_EQ(integer(file, "L"), 42);
    EXPECT_EQ(integer(file, "M"), 0);
}

TEST_F(IniAccessTest, BooleansAreTrueOnlyForTrueInAnyCase) {
    const std::string file = project("A=true\nB=True\nC=TRUE\nD=1\nE=\nF=false\nG=\"tRuE\"\nH=TRUE x\n");
    EXPECT_EQ(boolean(file, "A"), -1);
    EXPECT_EQ(boolean(file, "B"), -1);
    EXPECT_EQ(boolean(file, "C"), -1);
    EXPECT_EQ(boolean(file, "D"), 0);
    EXPECT_EQ(boolean(file, "E"), 0);
    EXPECT_EQ(boolean(file, "F"), 0);
    EXPECT_EQ(boolean(file, "G"), -1);
    EXPECT_EQ(boolean(file, "H"), 0);
}

TEST_F(IniAccessTest, NamesIgnoreCaseAndBlanksQuotesAndCommentsFollowThePrivateProfileRules) {
    const std::string file = write(
        "Resolution=1\n"  // above every section: belongs to none
        "[  project\t]\n"
        ";LogFileName=commented\n"
        "  ; Resolution=2\n"
        "just a line without equals sign\n"
        "\t RESOLUTION \t=\t 800 \t\n"
        "resolution=900\n"
        "LogFileName = \"  spaced  \"\n"
        "Single='x y'\n"
        "Unmatched=\"abc'\n"
        "Inner=a \"b\" c\n"
        "Lone=\"\n"
        "Empty=\"\"\n"
        "Equals=a=b\n"
        " \t[Other]\n"
        "Later=1\n"
        "[PROJECT]\n"
        "Later=2\n");
    EXPECT_EQ(integer(file, "resolution"), 800);
    EXPECT_EQ(ini_.LoadIniInteger("PROJECT", "Resolution", file, 0), 800);
    EXPECT_EQ(str(file, "logfilename"), "  spaced  ");
    EXPECT_EQ(str(file, ";LogFileName"), "") << "a comment is no entry";
    EXPECT_EQ(str(file, "Single"), "x y");
    EXPECT_EQ(str(file, "Unmatched"), "\"abc'");
    EXPECT_EQ(str(file, "Inner"), "a \"b\" c");
    EXPECT_EQ(str(file, "Lone"), "\"");
    EXPECT_EQ(str(file, "Empty"), "");
    EXPECT_EQ(str(file, "Equals"), "a=b");
    EXPECT_EQ(integer(file, "Later"), -1);  // only the first section of a name counts
    EXPECT_EQ(ini_.LoadIniInteger("Other", "Later", file, 0), 1);
}

TEST_F(IniAccessTest, AllLineEndsAndAByteOrderMarkAreUnderstood) {
    EXPECT_EQ(integer(write("\xEF\xBB\xBF[Project]\r\nA=1\r\nB=2\r\n"), "B"), 2);
    EXPECT_EQ(integer(write("[Project]\rA=1\rB=3"), "B"), 3);
    EXPECT_EQ(integer(write("[Project]\nA=1\n\n\nB=4"), "B"), 4);
    EXPECT_EQ(str(write("[Project]\r\nA=x\r\r\nB=y"), "A"), "x");
    EXPECT_EQ(integer(write("\n\xEF\xBB\xBF[Project]\nA=1"), "A"), -1) << "a mark only at the very start";
    const std::string mixed = write("[Broken\n[Project]\rA=1\rB=2\nC=3\r\n\n\nD=4");
    for (const auto& [entry, value] :
         {std::pair("A", 1), std::pair("B", 2), std::pair("C", 3), std::pair("D", 4)})
        EXPECT_EQ(integer(mixed, entry), value) << entry;
}

TEST_F(IniAccessTest, OnlyTheFirst64KiBOfALineAreLookedAt) {
    const std::string name(65534, 'n');
    const std::string file = project(name + "=5\n" + name + "xx=6\n");
    EXPECT_EQ(integer(file, name), 5) << "65536 bytes: the whole line";
    EXPECT_EQ(integer(file, name + "xx"), -1) << "its '=' lies beyond the first 64 KiB";
}

TEST(CutToCharacters, CountsEveryValidUtf8SequenceAsOneCharacterAndEveryOtherByteAsOne) {
    const struct {
        std::string text;
        std::size_t characters;
        std::string cut;
    } cases[] = {
        {"abc", 254, "abc"},
        {"abc", 0, ""},
        {"a\x80\x80z", 2, "a\x80"},    // stray continuation bytes
        {"\xC2\xA9z", 1, "\xC2\xA9"},  // the first two-byte lead
        {"\xDF\xBFz", 1, "\xDF\xBF"},  // the last one
        {"\xC1\xA9", 1, "\xC1"},
        {"\xC3z", 1, "\xC3"},                  // a lead without its continuation
        {"\xE2z\x82", 1, "\xE2"},              // overlong: no lead
        {"\xE0\xA0\x80z", 1, "\xE0\xA0\x80"},  // three bytes
        {"\xEF\xBF\xBFz", 1, "\xEF\xBF\xBF"},
        {"\xF0\x9F\x98\x80\x80z", 2, "\xF0\x9F\x98\x80\x80"},  // four bytes, then a stray one
        {"\xF4\x8F\xBF\xBFz", 1, "\xF4\x8F\xBF\xBF"},
        {"\xF5\x80\x80\x80", 1, "\xF5"},  // beyond Unicode: no lead
        {"\xE2\x82z", 2, "\xE2\x82"},
        {"\xE2\x82\xAC", 1, "\xE2\x82\xAC"},  // a sequence that ends the text     // a sequence cut short
    };
    for (const auto& c : cases) EXPECT_EQ(cutToCharacters(c.text, c.characters), c.cut) << c.text;
}

TEST_F(IniAccessTest, TextValuesAreCutTo254CharactersWithoutSplittingOne) {
    const std::string ascii(300, 'x');
    std::string euros;
    for (int i = 0; i < 300; ++i) euros += "\xE2\x82\xAC";
    const std::string mixed = std::string(253, 'a') + "\xC3\xA4" + "bcd";
    const std::string invalid(300, '\xFF');
    const std::string brokenAtEnd = std::string(253, 'a') + "\xE2\x82" + "zz";
    const std::string file = project("Ascii=" + ascii + "\nEuros=" + euros + "\nMixed=" + mixed +
                                     "\nInvalid=" + invalid + "\nBroken=" + brokenAtEnd + "\n");

    EXPECT_EQ(str(file, "Ascii"), ascii.substr(0, 254));
    EXPECT_EQ(str(file, "Euros"), euros.substr(0, 254 * 3));
    EXPECT_EQ(str(file, "Mixed"), std::string(253, 'a') + "\xC3\xA4");
    EXPECT_EQ(str(file, "Invalid"), invalid.substr(0, 254));
    EXPECT_EQ(str(file, "Broken"), std::string(253, 'a') + "\xE2");
}

TEST_F(IniAccessTest, GarbageHugeLinesAndFoldersNeverBreakTheReaders) {
    std::string garbage;
    unsigned state = 12345;
    for (int i = 0; i < 200000; ++i) {
        state = state * 1103515245u + 12345u;
        garbage.push_back(static_cast<char>(state >> 16));
    }
    const std::string binary = write(garbage, "binary.ini");
    EXPECT_EQ(integer(binary, "Resolution"), -1);
    EXPECT_EQ(str(binary, "LogFileName"), "");

    const std::string withNul = write(std::string("[Project]\nA=x\0y\nB=5\n", 20), "nul.ini");
    EXPECT_EQ(str(withNul, "A"), std::string("x\0y", 3));
    EXPECT_EQ(integer(withNul, "B"), 5);

    const std::string huge =
        write("[Project]\nLong=" + std::string(5'000'000, 'q') + "\nResolution=77\n", "huge.ini");
    EXPECT_EQ(str(huge, "Long"), std::string(254, 'q'));
    EXPECT_EQ(integer(huge, "Resolution"), 77);

    fs::create_directories(dir_ / "folder.ini");
    EXPECT_EQ(integer((dir_ / "folder.ini").string(), "Resolution"), -1);
    ASSERT_EQ(mkfifo((dir_ / "pipe.ini").c_str(), 0600), 0);
    EXPECT_EQ(integer((dir_ / "pipe.ini").string(), "Resolution"), -1) << "a pipe is never opened";
    EXPECT_EQ(str(write("", "empty.ini"), "A"), "");
    EXPECT_EQ(str(write("[Project", "open.ini"), "A"), "");
    EXPECT_TRUE(boxes_.shown.empty());
}

TEST_F(IniAccessTest, TheFileIsReadAfreshOnEveryCall) {
    const std::string file = project("Resolution=800\n");
    EXPECT_EQ(integer(file, "Resolution"), 800);
    project("Resolution=1024\n");
    EXPECT_EQ(integer(file, "Resolution"), 1024);
}

TEST_F(IniAccessTest, PathsFromWindowsPlantsAreFoundRegardlessOfCase) {
    write("[Project]\nResolution=1280\n", "Parameter/Program.ini");
    const std::string spelledOtherwise = (dir_ / "PARAMETER" / "program.INI").string();
    EXPECT_EQ(findFileIgnoringCase(spelledOtherwise), (dir_ / "Parameter" / "Program.ini").string());
    EXPECT_EQ(integer(spelledOtherwise, "Resolution"), 1280);

    const std::string exact = (dir_ / "Parameter" / "Program.ini").string();
    EXPECT_EQ(findFileIgnoringCase(exact), exact);
    const std::string nowhere = (dir_ / "parameter" / "Missing.ini").string();
    EXPECT_EQ(findFileIgnoringCase(nowhere), (dir_ / "Parameter" / "Missing.ini").string());
    EXPECT_EQ(integer(nowhere, "Resolution"), -1);
}

TEST_F(IniAccessTest, AFailingMessageBoxDoesNotReachTheCaller) {
    boxes_.failing = true;
    const std::string file = project("LogFileSystem=yes\n");
    EXPECT_EQ(boolean(file, "LogFileSystem", -1), 0);
    EXPECT_EQ(str(file, "Missing", -1), "");
    EXPECT_EQ(integer(file, "Missing", -1), -1);
    EXPECT_EQ(boxes_.shown.size(), 3u);
}

}  // namespace
}  // namespace orvanta
