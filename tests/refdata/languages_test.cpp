#include "refdata/languages.h"

#include <gtest/gtest.h>

#include "support/in_memory_database.h"
#include "support/log_capture.h"

namespace orvanta {
namespace {

using testing::InMemoryDatabaseEngine;
using testing::LogCapture;

const std::string kFile = "/plant/Program/Tools/Languages.mdb";

Variant n(int value) { return Variant::longInt(value); }
Variant t(const char* text) { return Variant::text(text); }

Table fonts(std::vector<std::vector<Variant>> rows) {
    return {"TidxFonts", {"ID", "FontName", "CharSet"}, std::move(rows)};
}
Table languages(std::vector<std::vector<Variant>> rows) {
    return {"LookupLanguages", {"Language", "Name", "CodePage", "KBLayout"}, std::move(rows)};
}

LanguageTable tableOf(std::initializer_list<std::int32_t> identifiers) {
    LanguageTable table;
    for (std::int32_t identifier : identifiers)
        table.entries[static_cast<std::size_t>(++table.LanguageCount)].Language = identifier;
    return table;
}

TEST(SucheFont, FindsTheLanguageOrFallsBackTo1033WhenTheTableHoldsMoreThanThree) {
    LogCapture capture;
    const LanguageTable four = tableOf({1031, 1033, 1036, 1040});
    std::int32_t language = 1036;
    EXPECT_EQ(SucheFont(four, language, "BrenkoLineOCX_NewLineData.LinienWerteAufbereiten", capture.log), 3);
    EXPECT_EQ(language, 1036);
    language = 1031;
    EXPECT_EQ(SucheFont(four, language, "X", capture.log), 1);
    language = 1040;
    EXPECT_EQ(SucheFont(four, language, "X", capture.log), 4);
    language = 2052;
    EXPECT_EQ(SucheFont(four, language, "X", capture.log), 2);
    EXPECT_EQ(language, 1033) << "the caller sees the replaced identifier";

    const LanguageTable three = tableOf({1031, 1033, 1036});
    language = 1036;
    EXPECT_EQ(SucheFont(three, language, "X", capture.log), 0);
    EXPECT_EQ(language, 1036);

    EXPECT_EQ(capture.lines().front(),
              "S 14:03:07 07.12.2026 BrenkoLineOCX_NewLineData.LinienWerteAufbereiten.SucheFont An ");
}

TEST(SucheFont, ATableWithoutTheLanguageAndWithout1033GivesZeroInsteadOfLoopingForEver) {
    LogCapture capture;
    const LanguageTable table = tableOf({1031, 1036, 1040, 1045});
    std::int32_t language = 2052;
    EXPECT_EQ(SucheFont(table, language, "X", capture.log), 0);
    EXPECT_EQ(language, 1033);
    EXPECT_EQ(table.at(0).FontName, "") << "entry 0 answers an empty font";
    EXPECT_THROW(table.at(201), VbError);
    EXPECT_THROW(table.at(-1), VbError);
    EXPECT_NO_THROW(table.at(200));
}

TEST(LanguageEinlesen, ChoosesEachLanguagesFontThroughItsFirstClassColumn) {
    LogCapture capture;
    InMemoryDatabaseEngine engine;
    engine.add(kFile, fonts({{Variant::null(), t("No display font"), n(9)},  // no ID before row 1
                             {n(1), t("Arial"), n(0)},
                             {n(2), t("Narrow"), n(0)},
                             {n(51), t("Arial CE"), n(238)},
                             {n(100), t("Courier"), n(0)}}));
    engine.add(kFile, Table{"TidxFontClasses",
                            {"ID", "Name", "L1031", "L1045", "X9", "l1036", "L1049", "L1045b", "L1040"},
                            {{n(1), t("Standard"), n(1), n(51), n(7), n(1), n(2), n(1), Variant::null()},
                             {n(2), t("Other"), n(51), n(1), n(1), n(1), n(1), n(1), n(1)}}});
    engine.add(kFile, languages({{n(1031), t("Deutsch"), t("1252"), n(1031)},
                                 {n(1045), t("Polski"), n(1250), t("00000415")},
                                 {n(1036), t("Français"), t("1252 Western"), t("0000040C")},
                                 {n(1049), Variant::null(), Variant::null(), n(1049)},
                                 {n(1040), t("Italiano"), t("1252"), n(1040)}}));
    LanguageTable table;
    LanguageEinlesen(table, engine, capture.log, "/plant");
    EXPECT_EQ(engine.prepared,
              (std::vector<std::vector<std::string>>{{"TidxFonts", "TidxFontClasses", "LookupLanguages"}}))
        << "the three tables are asked for together";

    ASSERT_EQ(table.LanguageCount, 5);
    const LanguageRecord& german = table.at(1);
    EXPECT_EQ(german.Language, 1031);
    EXPECT_EQ(german.Name, "Deutsch");
    EXPECT_EQ(german.CodePage, 1252);
    EXPECT_EQ(german.FontName, "Arial");
    const LanguageRecord& polish = table.at(2);
    EXPECT_EQ(polish.CodePage, 1250);
    EXPECT_EQ(polish.KBLayout, 415) << "a numeric text is read as a decimal number";
    EXPECT_EQ(polish.CharSet, 238) << "the first class column for 1045 decides";
    EXPECT_EQ(polish.FontName, "Arial CE");
    const LanguageRecord& french = table.at(3);
    EXPECT_EQ(french.CodePage, 1252);
    EXPECT_EQ(french.KBLayout, 0) << "0000040C is no decimal number";
    EXPECT_EQ(french.FontName, kDefaultFontName) << "l1036 is not a class column";
    const LanguageRecord& russian = table.at(4);
    EXPECT_EQ(russian.Name, "");
    EXPECT_EQ(russian.CodePage, 0);
    EXPECT_EQ(russian.FontName, kDefaultFontName) << "its class names font 2, which is no display font";
    EXPECT_EQ(russian.CharSet, 0);
    EXPECT_EQ(table.at(5).FontName, kDefaultFontName) << "a class cell that cannot be read names no font";
    EXPECT_EQ(capture.lines(), (std::vector<std::string>{"S 14:03:07 07.12.2026 LanguageEinlesen An ",
                                                         "S 14:03:07 07.12.2026 LanguageEinlesen En "}))
        << "no faults, nothing dropped";
}

TEST(LanguageEinlesen, AMissingTableIsReportedAndTheOthersAreStillRead) {
    LogCapture capture;
    InMemoryDatabaseEngine engine;
    engine.add(kFile, languages({{n(1033), t("English"), t("1252"), n(1033)}}));
    LanguageTable table;
    LanguageEinlesen(table, engine, capture.log, "/plant");
    ASSERT_EQ(table.LanguageCount, 1);
    EXPECT_EQ(table.at(1).FontName, kDefaultFontName);
    const auto faults = capture.linesStartingWith("F ");
    ASSERT_EQ(faults.size(), 2u);
    EXPECT_NE(faults[0].find("Fault 3078; Cannot find the input table 'TidxFonts'"), std::string::npos);
    EXPECT_NE(faults[1].find("'TidxFontClasses'"), std::string::npos);
    EXPECT_EQ(engine.closed, 1);

    LanguageTable none;
    LanguageEinlesen(none, engine, capture.log, "/elsewhere");
    EXPECT_EQ(none.LanguageCount, 0);
    EXPECT_NE(capture.linesStartingWith("F ").back().find(
                  "Fault 3024; Could not find file '/elsewhere/Program/Tools/Languages.mdb'"),
              std::string::npos);
    EXPECT_EQ(capture.lines().back(), "S 14:03:07 07.12.2026 LanguageEinlesen En ");
}

TEST(LanguageEinlesen, FontsClassesAndLanguagesBeyondTheirCapacityAreDroppedAndReported) {
    LogCapture capture;
    InMemoryDatabaseEngine engine;
    std::vector<std::vector<Variant>> fontRows;
    for (int i = 0; i < kFontListCapacity + 3; ++i) {
        fontRows.push_back({n(50 * i + 1), t("Font"), n(i)});
        fontRows.push_back({n(50 * i + 2), t("Not a display font"), n(0)});
    }
    engine.add(kFile, fonts(std::move(fontRows)));
    std::vector<std::string> columns{"ID", "Name"};
    std::vector<Variant> classRow{n(1), t("Standard")};
    for (int i = 0; i < kClassListCapacity + 1; ++i) {
        columns.push_back("L" + std::to_string(3000 + i));
        classRow.push_back(n(50 * i + 1));
    }
    engine.add(kFile, Table{"TidxFontClasses", columns, {classRow}});
    std::vector<std::vector<Variant>> rows;
    for (int i = 0; i < kLanguageCapacity + 2; ++i) rows.push_back({n(3000 + i), t("L"), t("1252"), n(0)});
    engine.add(kFile, languages(std::move(rows)));
    LanguageTable table;
    LanguageEinlesen(table, engine, capture.log, "/plant");
    EXPECT_EQ(table.LanguageCount, kLanguageCapacity);
    EXPECT_EQ(table.at(kClassListCapacity).CharSet, kFontListCapacity - 1) << "the last class kept";
    EXPECT_EQ(table.at(kClassListCapacity + 1).CharSet, 0) << "its class was dropped";
    EXPECT_EQ(capture.lines(),
              (std::vector<std::string>{
                  "S 14:03:07 07.12.2026 LanguageEinlesen An ",
                  "S 14:03:07 07.12.2026 LanguageEinlesen: 3 display fonts beyond the capacity of 50 dropped",
                  "S 14:03:07 07.12.2026 LanguageEinlesen: 1 font classes beyond the capacity of 50 dropped",
                  "S 14:03:07 07.12.2026 LanguageEinlesen: 2 languages beyond the capacity of 200 dropped",
                  "S 14:03:07 07.12.2026 LanguageEinlesen En "}));
}

}  // namespace
}  // namespace orvanta
