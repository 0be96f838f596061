// The text database on an Access file, the form the plants keep their alarm texts in.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "ports/database.h"
#include "ports/text_database.h"

namespace orvanta {

// Reads the "Texts" table (TextKey, LanguageId, Text) of an Access file into memory at Open(), so that
// GetText answers without touching the file.
class AccessTextDatabase : public TextDatabase {
public:
    explicit AccessTextDatabase(DatabaseEngine& engine) : engine_(engine) {}

    // Checks that the file is a readable Access database and remembers it.
    void Init(const std::string& path) override;
    // Reads the texts; VbError when Init has not succeeded or the table cannot be read.
    void Open() override;
    // VbError 91 before Open or after Close.
    std::string GetText(std::int32_t language, const std::string& key, std::int32_t flags) override;
    std::optional<std::string> textIn(std::int32_t language, const std::string& key) override;
    void Close() override;

private:
    struct Translation {
        std::int32_t language;
        std::string text;
    };

    const std::vector<Translation>* translations(const std::string& key) const;

    DatabaseEngine& engine_;
    std::string path_;
    // The texts by key while the database is open; nothing before Open and after Close.
    std::optional<std::unordered_map<std::string, std::vector<Translation>>> texts_;
};

}  // namespace orvanta
