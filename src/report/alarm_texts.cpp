#include "report/alarm_texts.h"

#include <array>
#include <charconv>
#include <utility>

namespace orvanta::report {

namespace {

// The languages a plant's text database most often holds, by ISO 639-1 code and primary language id.
constexpr std::array<std::pair<std::string_view, std::int32_t>, 24> kPrimaryLanguages{{
    {"zh", 0x04}, {"cs", 0x05}, {"da", 0x06}, {"de", 0x07}, {"el", 0x08}, {"en", 0x09},
    {"es", 0x0A}, {"fi", 0x0B}, {"fr", 0x0C}, {"hu", 0x0E}, {"it", 0x10}, {"ja", 0x11},
    {"ko", 0x12}, {"nl", 0x13}, {"no", 0x14}, {"pl", 0x15}, {"pt", 0x16}, {"ro", 0x18},
    {"ru", 0x19}, {"sk", 0x1B}, {"sv", 0x1D}, {"tr", 0x1F}, {"sl", 0x24}, {"uk", 0x22},
}};

constexpr std::int32_t primaryOf(std::int32_t identifier) { return identifier & 0x3FF; }

}  // namespace

std::optional<LanguageWish> parseLanguage(std::string_view text) {
    std::int32_t identifier = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), identifier);
    if (error == std::errc() && end == text.data() + text.size() && identifier > 0 && identifier <= 0xFFFF)
        return LanguageWish{identifier, primaryOf(identifier)};
    // "de", "de-CH", "de_AT": the language, whatever the country.
    const std::string_view code = text.substr(0, text.find_first_of("-_"));
    for (const auto& [name, primary] : kPrimaryLanguages)
        if (code.size() == 2 && (code[0] | 0x20) == name[0] && (code[1] | 0x20) == name[1])
            return LanguageWish{0, primary};
    return std::nullopt;
}

AlarmTexts::AlarmTexts(SqliteFile& file, int version, std::optional<LanguageWish> wish)
    : file_(file), recorded_(version >= 2), wish_(wish) {}

void AlarmTexts::name(AlarmName& alarm) {
    if (alarm.machine == 0) return;  // a text alone
    if (const std::optional<std::string> text = lookUp(alarm.textKey)) {
        alarm.text = *text;
    } else if (alarm.text.empty()) {
        alarm.text = alarm.textKey;
    }
}

// The wished language's text: an exact identifier first, then any of its language; else the plant's
// first language's.
std::optional<std::string> AlarmTexts::lookUp(const std::string& key) {
    if (!recorded_ || key.empty()) return std::nullopt;
    auto known = known_.find(key);
    if (known != known_.end()) return known->second;
    // The texts of one key: one per language of the plant, a handful.
    if (!texts_)
        texts_ = std::make_unique<Statement>(
            file_, "SELECT language, text FROM alarm_texts WHERE text_key = :key ORDER BY position");
    Statement& texts = *texts_;
    texts.reset();
    texts.bind(":key", key);
    std::optional<std::string> first, sameLanguage, exact;
    while (texts.step()) {
        const auto language = static_cast<std::int32_t>(texts.integer(0));
        if (!first) first = texts.text(1);
        if (!wish_) continue;
        if (!exact && wish_->identifier != 0 && language == wish_->identifier) exact = texts.text(1);
        if (!sameLanguage && primaryOf(language) == wish_->primary) sameLanguage = texts.text(1);
    }
    std::optional<std::string> chosen = exact ? exact : sameLanguage ? sameLanguage : first;
    if (known_.size() < kMostAlarms) known_.emplace(key, chosen);
    return chosen;
}

}  // namespace orvanta::report
