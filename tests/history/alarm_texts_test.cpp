#include "history/alarm_texts.h"

#include <gtest/gtest.h>

#include "refdata/access_text_database.h"
#include "support/in_memory_database.h"
#include "support/vb_errors.h"

namespace orvanta {
namespace {

std::string listed(const std::vector<history::LanguageText>& texts) {
    std::string line;
    for (const auto& text : texts)
        line += std::to_string(text.position) + ":" + std::to_string(text.language) + "=" + text.text + " ";
    return line;
}

// Only a text in the very language counts, never the database's stand-in (the 1033 text, the key), in
// the order and at the places of the plant's language table.
TEST(AlarmTexts, AreTheTranslationsTheDatabaseHasInThePlantsLanguages) {
    testing::InMemoryDatabaseEngine engine;
    auto row = [](const char* key, std::int32_t language, const char* text) {
        return std::vector<Variant>{Variant::text(key), Variant::longInt(language), Variant::text(text)};
    };
    engine.add("/p.vws", Table{"Texts",
                               {"TextKey", "LanguageId", "Text"},
                               {row("K1", 1033, "Stop"), row("K1", 1049, "Stoj"), row("K1", 1031, "Halt"),
                                row("K2", 1033, "Door open"), row("K3", 1040, "Porta aperta")}});
    AccessTextDatabase texts(engine);
    LanguageTable languages;
    for (const std::int32_t language : {1031, 1033, 1036, 1031, 1049})
        languages.entries[static_cast<std::size_t>(++languages.LanguageCount)].Language = language;

    EXPECT_EQ(testing::errorNumberOf([&] { alarmTexts(languages, texts, "K1"); }), kObjectNotSet);
    texts.Init("/p.vws");
    texts.Open();
    EXPECT_EQ(listed(alarmTexts(languages, texts, "K1")), "1:1031=Halt 2:1033=Stop 5:1049=Stoj ");
    EXPECT_EQ(listed(alarmTexts(languages, texts, "K2")), "2:1033=Door open ");
    EXPECT_EQ(listed(alarmTexts(languages, texts, "K3")), "");
    EXPECT_EQ(listed(alarmTexts(languages, texts, "unknown")), "");
    languages.LanguageCount = 1;
    EXPECT_EQ(listed(alarmTexts(languages, texts, "K2")), "");
}

}  // namespace
}  // namespace orvanta
