#include "adapters/access/mdb_protocol.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace orvanta::mdb_protocol {
namespace {

struct Malformed {
    std::string reason;
};

// A cursor over the stream that refuses to read past its end.
class Cursor {
public:
    explicit Cursor(std::string_view bytes) : rest_(bytes) {}

    bool atEnd() const { return rest_.empty(); }
    char peek() const { return rest_.empty() ? '\0' : rest_.front(); }
    std::size_t remaining() const { return rest_.size(); }

    char tag(const char* what) { return take(1, what)[0]; }

    template <typename T>
    T number(const char* what) {
        T value;
        std::memcpy(&value, take(sizeof(T), what).data(), sizeof(T));
        return value;
    }

    std::string text(const char* what) {
        const auto length = number<std::uint32_t>(what);
        const std::string_view bytes = take(length, what);
        if (!isUtf8(bytes)) throw Malformed{std::string(what) + " is not UTF-8"};
        return std::string(bytes);
    }

    std::string_view take(std::size_t count, const char* what) {
        if (count > rest_.size()) throw Malformed{std::string(what) + " is cut short"};
        const std::string_view taken = rest_.substr(0, count);
        rest_.remove_prefix(count);
        return taken;
    }

private:
    std::string_view rest_;
};

class Budget {
public:
    explicit Budget(std::size_t bytes) : left_(bytes) {}
    void spend(std::size_t bytes) {
        if (bytes > left_) throw Malformed{"the table would need more memory than the output limit allows"};
        left_ -= bytes;
    }

private:
    std::size_t left_;
};

Variant cell(Cursor& in, Budget& budget) {
    budget.spend(kCellCost);
    switch (in.tag("a cell")) {
        case tag::kNull:
            return Variant::null();
        case tag::kInteger:
            return Variant::integer(in.number<std::int16_t>("an Integer cell"));
        case tag::kLong:
            return Variant::longInt(in.number<std::int32_t>("a Long cell"));
        case tag::kDouble:
            return Variant::real(in.number<double>("a Double cell"));
        case tag::kBoolean: {
            const auto value = in.number<std::uint8_t>("a Boolean cell");
            if (value > 1) throw Malformed{"a Boolean cell holds " + std::to_string(value)};
            return Variant::boolean(value == 1);
        }
        case tag::kString: {
            std::string text = in.text("a String cell");
            budget.spend(text.size());
            return Variant::text(std::move(text));
        }
        default:
            throw Malformed{"a cell has an unknown kind"};
    }
}

bool knownCode(std::uint8_t code) {
    return code >= static_cast<std::uint8_t>(ReaderErrorCode::kUsage) &&
           code <= static_cast<std::uint8_t>(ReaderErrorCode::kWriteFailed);
}

Decoded readerError(Cursor& in) {
    const auto code = in.number<std::uint8_t>("an error record");
    if (!knownCode(code)) throw Malformed{"an error record has the unknown code " + std::to_string(code)};
    Decoded result;
    result.kind = Decoded::Kind::ReaderError;
    result.code = static_cast<ReaderErrorCode>(code);
    result.message = in.text("an error message");
    if (!in.atEnd()) throw Malformed{"bytes follow the error record"};
    return result;
}

Decoded decodeOrThrow(std::string_view bytes, const std::string& tableName, std::size_t memoryBudget) {
    Cursor in(bytes);
    if (in.take(std::min(bytes.size(), kMagic.size()), "the stream's start") != kMagic)
        throw Malformed{bytes.empty() ? "there is no output at all"
                                      : "the output does not start as expected"};
    Budget budget(memoryBudget);

    char next = in.tag("the header");
    if (next == tag::kError) return readerError(in);
    if (next != tag::kHeader) throw Malformed{"the header is missing"};
    Decoded result;
    result.kind = Decoded::Kind::Table;
    result.table.name = tableName;
    const auto columns = in.number<std::uint32_t>("the column count");
    // A name takes at least its four length bytes, so a count beyond that cannot be genuine.
    if (columns > kMaxColumns || columns > in.remaining() / 4)
        throw Malformed{"the header announces " + std::to_string(columns) + " columns"};
    result.table.columns.reserve(columns);
    for (std::uint32_t i = 0; i < columns; ++i) {
        result.table.columns.push_back(in.text("a column name"));
        budget.spend(kCellCost + result.table.columns.back().size());
    }

    for (;;) {
        next = in.tag("the end marker");
        if (next == tag::kError) return readerError(in);
        if (next == tag::kEnd) break;
        if (next != tag::kRow) throw Malformed{"a record has an unknown kind"};
        budget.spend(kRowCost);
        std::vector<Variant> row;
        row.reserve(columns);
        for (std::uint32_t i = 0; i < columns; ++i) {
            // The reader may find a row damaged half-way through writing it.
            if (in.peek() == tag::kError) {
                in.tag("an error record");
                return readerError(in);
            }
            row.push_back(cell(in, budget));
        }
        result.table.rows.push_back(std::move(row));
    }
    const auto rows = in.number<std::uint64_t>("the row count");
    if (rows != result.table.rows.size())
        throw Malformed{"the end marker counts " + std::to_string(rows) + " rows, the stream holds " +
                        std::to_string(result.table.rows.size())};
    if (!in.atEnd()) throw Malformed{"bytes follow the end marker"};
    return result;
}

}  // namespace

Decoded decode(std::string_view bytes, const std::string& tableName, std::size_t memoryBudget) {
    try {
        return decodeOrThrow(bytes, tableName, memoryBudget);
    } catch (const Malformed& malformed) {
        Decoded result;
        result.kind = Decoded::Kind::Malformed;
        result.message = malformed.reason;
        return result;
    }
}

bool isUtf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        if (lead < 0x80) {
            ++i;
            continue;
        }
        std::size_t length = 0;
        char32_t code = 0;
        char32_t least = 0;
        if ((lead & 0xe0) == 0xc0) {
            length = 2, code = lead & 0x1f, least = 0x80;
        } else if ((lead & 0xf0) == 0xe0) {
            length = 3, code = lead & 0x0f, least = 0x800;
        } else if ((lead & 0xf8) == 0xf0) {
            length = 4, code = lead & 0x07, least = 0x10000;
        } else {
            return false;
        }
        if (text.size() - i < length) return false;
        for (std::size_t k = 1; k < length; ++k) {
            const auto follow = static_cast<unsigned char>(text[i + k]);
            if ((follow & 0xc0) != 0x80) return false;
            code = (code << 6) | (follow & 0x3f);
        }
        if (code < least || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff)) return false;
        i += length;
    }
    return true;
}

}  // namespace orvanta::mdb_protocol
