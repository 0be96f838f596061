// One text for each alarm, in one language: the panel records every raised alarm's text in each language
// of the plant, and a report names an alarm the same way however often the display's language changed.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "report/line_report.h"
#include "report/sqlite_file.h"

namespace orvanta::report {

// A language as asked for: a Windows language identifier ("1031") or a two-letter code ("de"), which
// matches every identifier of that language (German of Germany, Austria, Switzerland ...). Empty: the
// plant's first language. Nullopt for a text that names no language this program knows.
struct LanguageWish {
    std::int32_t identifier = 0;  // exact, when given as a number
    std::int32_t primary = 0;     // the identifier's low ten bits: the language without its country
};
std::optional<LanguageWish> parseLanguage(std::string_view text);

class AlarmTexts {
public:
    // version: the file's; before 2 it recorded no texts, and every alarm keeps the text it was shown with.
    AlarmTexts(SqliteFile& file, int version, std::optional<LanguageWish> wish);

    // The alarm's text in the language wished for, else in the plant's first language, else as it was
    // shown (the text the alarm came with), else its key.
    void name(AlarmName& alarm);

private:
    std::optional<std::string> lookUp(const std::string& key);

    SqliteFile& file_;
    bool recorded_ = false;
    std::optional<LanguageWish> wish_;
    std::unique_ptr<Statement> texts_;
    std::map<std::string, std::optional<std::string>> known_;  // bounded by the alarms a report lists
};

}  // namespace orvanta::report
