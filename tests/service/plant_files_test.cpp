#include "service/plant_files.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "service/file_names.h"

namespace orvanta {
namespace {

namespace fs = std::filesystem;

TEST(PlantFiles, AreFoundInTheCaseThePlantSpellsThemAndNewOnesLandInItsFolders) {
    const fs::path base = fs::temp_directory_path() / ("orvanta-plant-files-" + std::to_string(getpid()));
    fs::remove_all(base);
    fs::create_directories(base / "parameter");
    fs::create_directories(base / "program" / "orvanta");
    fs::create_directories(base / "program" / "TOOLS");
    for (const char* file : {"parameter/program.ini", "program/pelmar.vws", "program/Pelmar.MDB",
                             "program/TOOLS/languages.mdb", "program/orvanta/orvanta.INI"})
        std::ofstream(base / file) << "x";
    const std::string b = base.string();

    EXPECT_EQ(plantFile(b, kProgramIniFile), b + "/parameter/program.ini");
    EXPECT_EQ(plantFile(b, kProjectFile), b + "/program/pelmar.vws");
    EXPECT_EQ(plantFile(b, kProjectDatabaseFile), b + "/program/Pelmar.MDB");
    EXPECT_EQ(plantFile(b, kLanguagesFile), b + "/program/TOOLS/languages.mdb");
    EXPECT_EQ(plantFile(b, kOwnIniFile), b + "/program/orvanta/orvanta.INI");
    EXPECT_EQ(plantFile(b, kProgramFolder), b + "/program/orvanta");
    // Not there yet: the logs are made in the plant's own folder, not in a second one beside it.
    EXPECT_EQ(plantFile(b, kLogFile), b + "/program/orvanta/Orvanta.log");
    EXPECT_EQ(plantFile(b, kLineDisplayLogFile), b + "/program/orvanta/OrvantaOCX.log");
    EXPECT_EQ(plantFile(b, kLineDescriptionFile), b + "/program/orvanta/Line.json");
    // Below a folder that matches nothing, the names stay as they are.
    EXPECT_EQ(plantFile(b + "/missing", kCatalogueFile), b + "/missing/Program/Orvanta/Variables.json");
    fs::remove_all(base);
}

TEST(PlantFiles, AnExactSpellingWinsAndOtherwiseTheSmallestNameInByteOrder) {
    const fs::path base = fs::temp_directory_path() / ("orvanta-spellings-" + std::to_string(getpid()));
    fs::remove_all(base);
    fs::create_directories(base / "Parameter");
    for (const char* file : {"Parameter/program.ini", "Parameter/Program.ini", "Parameter/PROGRAM.INI"})
        std::ofstream(base / file) << "x";
    const std::string b = base.string();
    EXPECT_EQ(plantFile(b, kProgramIniFile), b + "/Parameter/Program.ini");
    EXPECT_EQ(findFileIgnoringCase(b + "/parameter/Program.Ini"), b + "/Parameter/PROGRAM.INI");
    EXPECT_EQ(findFileIgnoringCase(b + "/Parameter/"), b + "/Parameter/") << "an existing path as it is";
    EXPECT_EQ(findFileIgnoringCase(b + "/PARAMETER/"), b + "/Parameter");
    EXPECT_EQ(findFileIgnoringCase(""), "");
    fs::remove_all(base);
}

}  // namespace
}  // namespace orvanta
