// An alarm's texts in the plant's languages, as the history keeps them: what the recorder's Settings ask
// for, worked out from the language table and the text database that the main form holds. The recorder
// itself knows neither.
#pragma once

#include <string>
#include <vector>

#include "central/orvanta_central.h"
#include "history/history_records.h"
#include "ports/text_database.h"
#include "refdata/languages.h"

namespace orvanta {

// The text of key in each language of the table (entries 1..LanguageCount, in their order: the position
// is the entry's), where the database has a text in that very language; a language listed twice counts
// at its first entry. Raises what the text database raises.
std::vector<history::LanguageText> alarmTexts(const LanguageTable& languages, TextDatabase& texts,
                                              const std::string& key);

// The same from the main form's language table and text database; none once the text database has
// failed, before it is open and after it is closed.
std::vector<history::LanguageText> alarmTexts(OrvantaCentral& central, const std::string& key);

}  // namespace orvanta
