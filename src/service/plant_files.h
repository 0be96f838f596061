// Every file of a plant, named once, below its base folder. Plants come over from Windows, where a name
// is found whatever its case, and their folders keep that world's spelling ("program/pelmar.vws"), so a
// path is never put together by hand: plantFile finds each element in the case the plant has, and a
// PlantPath gives its text to nothing else.
#pragma once

#include <string>
#include <string_view>

namespace orvanta {

// A fixed file or folder of a plant, below its base folder.
class PlantPath {
public:
    consteval explicit PlantPath(std::string_view below) : below_(below) {}

private:
    friend std::string plantFile(const std::string& base, PlantPath path);
    std::string_view below_;
};

inline constexpr PlantPath kProgramFolder{"/Program/Orvanta"};
inline constexpr PlantPath kProgramIniFile{"/Parameter/Program.ini"};
inline constexpr PlantPath kOwnIniFile{"/Program/Orvanta/Orvanta.ini"};
inline constexpr PlantPath kLogFile{"/Program/Orvanta/Orvanta.log"};
// Held by the panel that runs on the plant, so that a second one on the same folder is refused.
inline constexpr PlantPath kPlantLockFile{"/Orvanta.lock"};
inline constexpr PlantPath kLineDisplayLogFile{"/Program/Orvanta/OrvantaOCX.log"};
// The visualisation project, and the database that stands in for it on plants without the studio: both
// hold the alarm definitions and the alarm texts.
inline constexpr PlantPath kProjectFile{"/Program/Pelmar.vws"};
inline constexpr PlantPath kProjectDatabaseFile{"/Program/Pelmar.mdb"};
inline constexpr PlantPath kLanguagesFile{"/Program/Tools/Languages.mdb"};
// Of the embedded backend: the line and the plant's own process variables.
inline constexpr PlantPath kLineDescriptionFile{"/Program/Orvanta/Line.json"};
inline constexpr PlantPath kCatalogueFile{"/Program/Orvanta/Variables.json"};

// base followed by path, each element spelt as the plant spells it (see findFileIgnoringCase). A file
// that does not exist yet, such as a log, still lands in the plant's existing folders.
std::string plantFile(const std::string& base, PlantPath path);

}  // namespace orvanta
