#include "ports/database.h"

#include <array>
#include <cstdint>
#include <utility>

#include "core/text.h"
#include "core/vb_error.h"

namespace orvanta {
namespace {

constexpr const char* kSource = "Database";
constexpr std::int32_t kNoCurrentRecord = 3021;

bool isNameCharacter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
           static_cast<unsigned char>(c) >= 0x80;
}

// Splits off the next word: a run of name characters, or a single other character.
std::string_view nextToken(std::string_view& text) {
    text = trimBlanks(text);
    std::size_t length = 0;
    while (length < text.size() && isNameCharacter(text[length])) ++length;
    if (length == 0 && !text.empty()) length = 1;
    const std::string_view token = text.substr(0, length);
    text.remove_prefix(length);
    return token;
}

class TableRecordset : public Recordset {
public:
    TableRecordset(std::shared_ptr<const Table> table, std::string origin)
        : table_(std::move(table)), origin_(std::move(origin)) {}

    bool isEof() const override { return row_ >= table_->rows.size(); }
    void MoveNext() override {
        if (isEof()) throw VbError(kNoCurrentRecord, "No current record in " + where(), kSource);
        ++row_;
    }
    int FieldCount() const override { return static_cast<int>(table_->columns.size()); }
    std::string FieldName(int index) const override {
        if (index < 0 || index >= FieldCount())
            throw VbError(kSubscriptOutOfRange, "No column " + std::to_string(index) + " in " + where(),
                          kSource);
        return table_->columns[static_cast<std::size_t>(index)];
    }
    const Variant& FieldValue(std::string_view name) const override {
        const std::size_t column = columnIndex(name);
        if (isEof()) throw VbError(kNoCurrentRecord, "No current record in " + where(), kSource);
        const std::vector<Variant>& row = table_->rows[row_];
        static const Variant null = Variant::null();
        return column < row.size() ? row[column] : null;
    }

private:
    std::string where() const { return "table '" + table_->name + "' of " + origin_; }

    // Readers ask for the same few columns on every row, by the same names: the column found for a name
    // is remembered by where the name lies, and a hit only has to be confirmed.
    std::size_t columnIndex(std::string_view name) const {
        const std::uint64_t address = reinterpret_cast<std::uintptr_t>(name.data());
        CacheSlot& slot = cache_[(address * 0x9E3779B97F4A7C15u) >> 59];
        if (slot.name == name.data() && slot.column < table_->columns.size() &&
            table_->columns[slot.column] == name)
            return slot.column;
        for (std::size_t i = 0; i < table_->columns.size(); ++i) {
            if (!equalsIgnoringAsciiCase(table_->columns[i], name)) continue;
            if (table_->columns[i] == name) slot = {name.data(), i};
            return i;
        }
        throw VbError(database_error::kItemNotFound,
                      "Column '" + std::string(name) + "' not found in " + where(), kSource);
    }

    struct CacheSlot {
        const char* name = nullptr;
        std::size_t column = 0;
    };
    mutable std::array<CacheSlot, 32> cache_{};

    std::shared_ptr<const Table> table_;
    std::string origin_;
    std::size_t row_ = 0;
};

}  // namespace

std::string tableOfStatement(std::string_view statement) {
    std::string_view rest = statement;
    const std::string_view select = nextToken(rest);
    const std::string_view table = nextToken(rest);
    const std::string_view dot = nextToken(rest);
    const std::string_view star = nextToken(rest);
    const std::string_view from = nextToken(rest);
    const std::string_view again = nextToken(rest);
    const bool wellFormed = equalsIgnoringAsciiCase(select, "SELECT") && !table.empty() &&
                            isNameCharacter(table.front()) && dot == "." && star == "*" &&
                            equalsIgnoringAsciiCase(from, "FROM") && equalsIgnoringAsciiCase(again, table) &&
                            trimBlanks(rest).empty();
    if (!wellFormed)
        throw VbError(
            database_error::kInvalidStatement,
            "Only statements of the form SELECT T.* FROM T are read, not '" + std::string(statement) + "'",
            kSource);
    return std::string(table);
}

std::unique_ptr<Recordset> recordsetOver(std::shared_ptr<const Table> table, std::string origin) {
    return std::make_unique<TableRecordset>(std::move(table), std::move(origin));
}

}  // namespace orvanta
