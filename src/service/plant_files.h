// Every file of a plant, named once, below its base folder. Plants come over from Windows, where a name
// is found whatever its case, and their folders keep that world's spelling ("program/pelmar.vws"), so a
// path is never put together by hand: plantFile finds each element in the case the plant has.
#pragma once

#include <string>
#include <string_view>

namespace orvanta {

inline constexpr std::string_view kProgramFolder = "/Program/Orvanta";
inline constexpr std::string_view kProgramIniFile = "/Parameter/Program.ini";
inline constexpr std::string_view kOwnIniFile = "/Program/Orvanta/Orvanta.ini";
inline constexpr std::string_view kLogFile = "/Program/Orvanta/Orvanta.log";
// Held by the panel that runs on the plant, so that a second one on the same folder is refused.
inline constexpr std::string_view kPlantLockFile = "/Orvanta.lock";
inline constexpr std::string_view kLineDisplayLogFile = "/Program/Orvanta/OrvantaOCX.log";
// The visualisation project, and the database that stands in for it on plants without the studio: both
// hold the alarm definitions and the alarm texts.
inline constexpr std::string_view kProjectFile = "/Program/Pelmar.vws";
inline constexpr std::string_view kProjectDatabaseFile = "/Program/Pelmar.mdb";
inline constexpr std::string_view kLanguagesFile = "/Program/Tools/Languages.mdb";
// Of the embedded backend: the line and the plant's own process variables.
inline constexpr std::string_view kLineDescriptionFile = "/Program/Orvanta/Line.json";
inline constexpr std::string_view kCatalogueFile = "/Program/Orvanta/Variables.json";

// base followed by name, each element spelt as the plant spells it (see findFileIgnoringCase). A file
// that does not exist yet, such as a log, still lands in the plant's existing folders.
std::string plantFile(const std::string& base, std::string_view name);

}  // namespace orvanta
