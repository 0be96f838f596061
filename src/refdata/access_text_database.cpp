#include "refdata/access_text_database.h"

#include "core/vb_error.h"

namespace orvanta {
namespace {

constexpr const char* kSource = "TextDatabase";
constexpr std::int32_t kFallbackLanguage = 1033;

}  // namespace

void AccessTextDatabase::Init(const std::string& path) {
    texts_.reset();
    path_.clear();
    engine_.OpenDatabase(path)->Close();
    path_ = path;
}

void AccessTextDatabase::Open() {
    if (path_.empty())
        throw VbError(kObjectNotSet, "The text database has no file: Init did not succeed", kSource);
    std::unordered_map<std::string, std::vector<Translation>> texts;
    const std::unique_ptr<Database> database = engine_.OpenDatabase(path_);
    const std::unique_ptr<Recordset> rs = database->OpenRecordset("SELECT Texts.* FROM Texts");
    for (; !rs->isEof(); rs->MoveNext()) {
        const Variant& key = rs->FieldValue("TextKey");
        const Variant& language = rs->FieldValue("LanguageId");
        const Variant& text = rs->FieldValue("Text");
        // A row without key, language or text translates nothing.
        if (key.isNull() || language.isNull() || text.isNull()) continue;
        texts[toText(key)].push_back({toLong(language), toText(text)});
    }
    database->Close();
    texts_ = std::move(texts);
}

// The key's translations; VbError 91 while the database is not open.
const std::vector<AccessTextDatabase::Translation>* AccessTextDatabase::translations(
    const std::string& key) const {
    if (!texts_) throw VbError(kObjectNotSet, "The text database is not open", kSource);
    const auto found = texts_->find(key);
    return found == texts_->end() ? nullptr : &found->second;
}

std::string AccessTextDatabase::GetText(std::int32_t language, const std::string& key,
                                        std::int32_t /*flags*/) {
    const std::vector<Translation>* found = translations(key);
    if (found == nullptr) return key;
    const Translation* fallback = nullptr;
    for (const Translation& translation : *found) {
        if (translation.language == language) return translation.text;
        if (translation.language == kFallbackLanguage && fallback == nullptr) fallback = &translation;
    }
    return fallback != nullptr ? fallback->text : key;
}

std::optional<std::string> AccessTextDatabase::textIn(std::int32_t language, const std::string& key) {
    if (const std::vector<Translation>* found = translations(key))
        for (const Translation& translation : *found)
            if (translation.language == language) return translation.text;
    return std::nullopt;
}

void AccessTextDatabase::Close() { texts_.reset(); }

}  // namespace orvanta
