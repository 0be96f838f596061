#include "history/alarm_texts.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "core/vb_error.h"

namespace orvanta {

std::vector<history::LanguageText> alarmTexts(const LanguageTable& languages, TextDatabase& texts,
                                              const std::string& key) {
    std::vector<history::LanguageText> found;
    const int count = std::clamp<int>(languages.LanguageCount, 0, kLanguageCapacity);
    for (int position = 1; position <= count; ++position) {
        const std::int32_t language = languages.entries[static_cast<std::size_t>(position)].Language;
        const bool listedBefore = std::any_of(
            found.begin(), found.end(), [language](const auto& text) { return text.language == language; });
        if (listedBefore) continue;
        if (std::optional<std::string> text = texts.textIn(language, key))
            found.push_back({language, static_cast<std::int16_t>(position), std::move(*text)});
    }
    return found;
}

std::vector<history::LanguageText> alarmTexts(OrvantaCentral& central, const std::string& key) {
    if (central.state().VisuTextFehler != 0 || !central.VisuText().created()) return {};
    try {
        return alarmTexts(central.languages(), central.VisuText().use(), key);
    } catch (const VbError&) {
        return {};
    }
}

}  // namespace orvanta
