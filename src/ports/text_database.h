// The text database behind the main form's VisuText: the alarm texts of the visualisation project in
// every language. The panel calls Init(path) and Open() at start, GetText(language, key, 0) for every
// alarmed machine slot once a second, and Close() at the end; each raises a VbError when it fails. A
// missing translation is no failure: the text in 1033, and where there is none at all the key itself.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace orvanta {

class TextDatabase {
public:
    virtual ~TextDatabase() = default;
    virtual void Init(const std::string& path) = 0;
    virtual void Open() = 0;
    // flags: always 0 here; kept for the component's signature.
    virtual std::string GetText(std::int32_t language, const std::string& key, std::int32_t flags) = 0;
    // The text of key in this very language, none where GetText would answer with a stand-in: the history
    // keeps only real translations. Raises what GetText raises.
    virtual std::optional<std::string> textIn(std::int32_t language, const std::string& key) = 0;
    virtual void Close() = 0;
};

// The form's VisuText: created by the factory on first use, and created afresh after it was released.
class TextDatabaseHandle {
public:
    using Factory = std::function<std::unique_ptr<TextDatabase>()>;
    explicit TextDatabaseHandle(Factory factory) : factory_(std::move(factory)) {}

    TextDatabase& use() {
        if (!database_) database_ = factory_();
        return *database_;
    }
    bool created() const { return database_ != nullptr; }

private:
    Factory factory_;
    std::unique_ptr<TextDatabase> database_;
};

}  // namespace orvanta
