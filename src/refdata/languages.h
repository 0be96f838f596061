// The languages of the plant with the font each is shown in, from the language database. The line
// bridge maps a language identifier to its character set and font name with SucheFont.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "ports/database.h"
#include "service/program_log.h"

namespace orvanta {

struct LanguageRecord {
    std::int16_t FontId = 0;
    std::int32_t Language = 0;
    std::int32_t CodePage = 0;
    std::string Name;
    std::int32_t KBLayout = 0;
    std::int32_t CharSet = 0;
    std::string FontName;
};

inline constexpr int kLanguageCapacity = 200;
inline constexpr int kFontListCapacity = 50;
inline constexpr int kClassListCapacity = 50;
inline constexpr const char* kDefaultFontName = "Lucida Sans Unicode";

// Entry 0 stays empty; the languages lie at 1..LanguageCount.
struct LanguageTable {
    std::array<LanguageRecord, kLanguageCapacity + 1> entries;
    std::int16_t LanguageCount = 0;

    // Entry index, checked: error 9 outside 0..200.
    const LanguageRecord& at(int index) const;
};

// Reads BasisVerzeichnis/Program/Tools/Languages.mdb into table, appending to what it holds. Never
// throws: a cell that cannot be converted leaves its field empty; a database or table that cannot be
// opened is reported with a fault line naming the file and the reason.
void LanguageEinlesen(LanguageTable& table, DatabaseEngine& engine, ProgramLog& log,
                      const std::string& BasisVerzeichnis);

// The position 1..LanguageCount of language in table, or 0. With more than three languages, an
// identifier that is not among them becomes 1033 (the caller sees the change); when 1033 is not among
// them either, the result is 0.
std::int16_t SucheFont(const LanguageTable& table, std::int32_t& language, const std::string& caller,
                       ProgramLog& log);

}  // namespace orvanta
