// The font of a language is found in two steps: the first row of "TidxFontClasses" names, in a column
// "L<language>", the font identifier of each language, and "TidxFonts" holds the font with that
// identifier. Only fonts whose identifier is 1, 51, 101, ... are display fonts. A language without a font
// is shown in the default font.
#include "refdata/languages.h"

#include <cmath>
#include <vector>

#include "core/vb_error.h"
#include "service/handler_frame.h"
#include "service/plant_files.h"

namespace orvanta {
namespace {

constexpr const char* kProcedure = "LanguageEinlesen";

// Made value-initialised: a cell that cannot be read leaves its field 0.
struct FontClass {
    std::int32_t language;
    std::int16_t fontId;
};

// Reads one table; a table that cannot be opened is reported and read as empty.
template <typename RowReader>
void readTable(Database& database, const std::string& name, HandlerFrame& frame, RowReader&& readRow) {
    std::unique_ptr<Recordset> rs;
    try {
        rs = database.OpenRecordset("SELECT " + name + ".* FROM " + name);
    } catch (...) {
        frame.report(VbError::current("Database"));
        return;
    }
    readRow(*rs);
}

class LanguageLoader {
public:
    LanguageLoader(LanguageTable& table, HandlerFrame& frame) : table_(table), frame_(frame) {}

    void fonts(Recordset& rs) {
        std::int16_t id = 0;  // a row whose ID cannot be read is judged by the previous row's
        for (; !rs.isEof(); rs.MoveNext()) {
            frame_.step([&] { id = toInteger(rs.FieldValue("ID")); });
            if (id - 50.0 * std::floor(id / 50.0) != 1.0) continue;
            if (fonts_.size() == kFontListCapacity) {
                ++droppedFonts_;
                continue;
            }
            LanguageRecord& font = fonts_.emplace_back();
            frame_.step([&] { font.FontId = toInteger(rs.FieldValue("ID")); });
            frame_.step([&] { font.FontName = toText(rs.FieldValue("FontName")); });
            frame_.step([&] { font.CharSet = toLong(rs.FieldValue("CharSet")); });
        }
    }

    void fontClasses(Recordset& rs) {
        if (rs.isEof()) return;
        int columns = 0;
        frame_.step([&] { columns = rs.FieldCount(); });
        for (int index = 2; index < columns; ++index) {
            std::string name;
            frame_.step([&] { name = rs.FieldName(index); });
            if (name.empty() || name.front() != 'L') continue;
            if (classes_.size() == kClassListCapacity) {
                ++droppedClasses_;
                continue;
            }
            FontClass& pair = classes_.emplace_back();
            frame_.step(
                [&] { pair.language = narrowToLong(roundHalfEven(val(std::string_view(name).substr(1)))); });
            frame_.step([&] { pair.fontId = toInteger(rs.FieldValue(name)); });
        }
    }

    void languages(Recordset& rs) {
        for (; !rs.isEof(); rs.MoveNext()) {
            if (table_.LanguageCount == kLanguageCapacity) {
                ++droppedLanguages_;
                continue;
            }
            // Starts empty: a cell that cannot be read leaves its field empty, and no font means CharSet 0.
            LanguageRecord& entry =
                (table_.entries[static_cast<std::size_t>(++table_.LanguageCount)] = LanguageRecord{});
            frame_.step([&] { entry.Language = toLong(rs.FieldValue("Language")); });
            frame_.step([&] { entry.Name = toText(rs.FieldValue("Name")); });
            frame_.step([&] {
                entry.CodePage = narrowToLong(roundHalfEven(val(toText(rs.FieldValue("CodePage")))));
            });
            frame_.step([&] { entry.KBLayout = toLong(rs.FieldValue("KBLayout")); });
            assignFont(entry);
        }
    }

    void reportDropped() {
        report(droppedFonts_, "display fonts beyond the capacity of " + std::to_string(kFontListCapacity));
        report(droppedClasses_, "font classes beyond the capacity of " + std::to_string(kClassListCapacity));
        report(droppedLanguages_, "languages beyond the capacity of " + std::to_string(kLanguageCapacity));
    }

private:
    // The first class of the language decides, whether or not its font exists.
    void assignFont(LanguageRecord& entry) const {
        for (const FontClass& pair : classes_) {
            if (pair.language != entry.Language) continue;
            for (const LanguageRecord& font : fonts_) {
                if (font.FontId != pair.fontId) continue;
                entry.CharSet = font.CharSet;
                entry.FontName = font.FontName;
                return;
            }
            break;
        }
        entry.FontName = kDefaultFontName;
    }

    void report(int dropped, const std::string& what) {
        if (dropped > 0)
            frame_.trace(std::string(kProcedure) + ": " + std::to_string(dropped) + " " + what + " dropped");
    }

    LanguageTable& table_;
    HandlerFrame& frame_;
    std::vector<LanguageRecord> fonts_;
    std::vector<FontClass> classes_;
    int droppedFonts_ = 0;
    int droppedClasses_ = 0;
    int droppedLanguages_ = 0;
};

}  // namespace

const LanguageRecord& LanguageTable::at(int index) const {
    if (index < 0 || index > kLanguageCapacity)
        throw VbError(kSubscriptOutOfRange, "Language index " + std::to_string(index) + " is outside 0..200",
                      "Orvanta");
    return entries[static_cast<std::size_t>(index)];
}

void LanguageEinlesen(LanguageTable& table, DatabaseEngine& engine, ProgramLog& log,
                      const std::string& BasisVerzeichnis) {
    HandlerFrame frame(log, kProcedure, Trace::System, {.faultLines = false});
    LanguageLoader loader(table, frame);
    const std::string path = plantFile(BasisVerzeichnis, kLanguagesFile);
    std::unique_ptr<Database> database;
    try {
        database = engine.OpenDatabase(path);
    } catch (...) {
        // Without its languages every machine is shown in the default font: say why.
        frame.report(VbError::current("Database"));
        return;
    }
    database->prepare({"TidxFonts", "TidxFontClasses", "LookupLanguages"});
    readTable(*database, "TidxFonts", frame, [&](Recordset& rs) { loader.fonts(rs); });
    readTable(*database, "TidxFontClasses", frame, [&](Recordset& rs) { loader.fontClasses(rs); });
    readTable(*database, "LookupLanguages", frame, [&](Recordset& rs) { loader.languages(rs); });
    frame.step([&] { database->Close(); });
    loader.reportDropped();
}

std::int16_t SucheFont(const LanguageTable& table, std::int32_t& language, const std::string& caller,
                       ProgramLog& log) {
    HandlerFrame frame(log, caller + ".SucheFont", Trace::System);
    std::int16_t result = 0;
    frame.step([&] {
        while (result == 0 && table.LanguageCount > 3) {
            for (int i = 1; i <= table.LanguageCount; ++i) {
                if (table.at(i).Language == language) {
                    result = static_cast<std::int16_t>(i);
                    break;
                }
            }
            if (result != 0) break;
            // The table has neither the language nor the fallback: stop here instead of asking again.
            if (language == 1033) break;
            language = 1033;
        }
    });
    return result;
}

}  // namespace orvanta
