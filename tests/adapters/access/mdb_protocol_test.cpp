#include "adapters/access/mdb_protocol.h"

#include <gtest/gtest.h>

#include <cstring>

namespace orvanta::mdb_protocol {
namespace {

using Kind = Decoded::Kind;
constexpr std::size_t kBudget = std::size_t{1} << 20;

// Writes streams the way the reader does.
class Stream {
public:
    Stream() : bytes_(kMagic) {}
    Stream& put(char c) {
        bytes_ += c;
        return *this;
    }
    template <typename T>
    Stream& number(T value) {
        char raw[sizeof(T)];
        std::memcpy(raw, &value, sizeof(T));
        bytes_.append(raw, sizeof(T));
        return *this;
    }
    Stream& text(std::string_view value) {
        number(static_cast<std::uint32_t>(value.size()));
        bytes_ += value;
        return *this;
    }
    Stream& header(std::initializer_list<std::string_view> names) {
        put(tag::kHeader).number(static_cast<std::uint32_t>(names.size()));
        for (const auto name : names) text(name);
        return *this;
    }
    Stream& end(std::uint64_t rows) { return put(tag::kEnd).number(rows); }
    const std::string& bytes() const { return bytes_; }

private:
    std::string bytes_;
};

// A table with one cell of every kind.
std::string everyKind() {
    Stream s;
    s.header({"n", "i", "l", "d", "b", "s"});
    s.put(tag::kRow).put(tag::kNull);
    s.put(tag::kInteger).number<std::int16_t>(-2);
    s.put(tag::kLong).number<std::int32_t>(70000);
    s.put(tag::kDouble).number(2.5);
    s.put(tag::kBoolean).number<std::uint8_t>(1);
    s.put(tag::kString).text("Français");
    s.put(tag::kRow).put(tag::kNull).put(tag::kNull).put(tag::kNull).put(tag::kNull);
    s.put(tag::kBoolean).number<std::uint8_t>(0).put(tag::kString).text("");
    return s.end(2).bytes();
}

TEST(MdbProtocol, DecodesEveryKindOfCell) {
    const Decoded decoded = decode(everyKind(), "T", kBudget);
    ASSERT_EQ(decoded.kind, Kind::Table) << decoded.message;
    EXPECT_EQ(decoded.table.name, "T");
    EXPECT_EQ(decoded.table.columns, (std::vector<std::string>{"n", "i", "l", "d", "b", "s"}));
    ASSERT_EQ(decoded.table.rows.size(), 2u);
    EXPECT_EQ(decoded.table.rows[0],
              (std::vector<Variant>{Variant::null(), Variant::integer(-2), Variant::longInt(70000),
                                    Variant::real(2.5), Variant::boolean(true), Variant::text("Français")}));
    EXPECT_EQ(decoded.table.rows[1][4], Variant::boolean(false));
    EXPECT_EQ(decoded.table.rows[1][5], Variant::text(""));

    const Decoded empty = decode(Stream().header({"a"}).end(0).bytes(), "E", kBudget);
    ASSERT_EQ(empty.kind, Kind::Table);
    EXPECT_TRUE(empty.table.rows.empty());
}

TEST(MdbProtocol, PassesOnTheReadersErrorRecord) {
    Stream s;
    s.put(tag::kError).number(static_cast<std::uint8_t>(ReaderErrorCode::kTableNotFound)).text("no T");
    const Decoded decoded = decode(s.bytes(), "T", kBudget);
    ASSERT_EQ(decoded.kind, Kind::ReaderError);
    EXPECT_EQ(decoded.code, ReaderErrorCode::kTableNotFound);
    EXPECT_EQ(decoded.message, "no T");

    // Also after rows have begun: a damaged row half-way through the table.
    Stream late;
    late.header({"a"}).put(tag::kRow).put(tag::kNull);
    late.put(tag::kError).number(static_cast<std::uint8_t>(ReaderErrorCode::kDamaged)).text("row 2");
    EXPECT_EQ(decode(late.bytes(), "T", kBudget).code, ReaderErrorCode::kDamaged);

    // And in the middle of a row whose next value turned out damaged.
    Stream midRow;
    midRow.header({"a", "b", "c"}).put(tag::kRow).put(tag::kNull);
    midRow.put(tag::kError).number(static_cast<std::uint8_t>(ReaderErrorCode::kDamaged)).text("x");
    const Decoded broken = decode(midRow.bytes(), "T", kBudget);
    EXPECT_EQ(broken.kind, Kind::ReaderError);
    EXPECT_EQ(broken.message, "x");

    Stream unknown;
    unknown.put(tag::kError).number<std::uint8_t>(200).text("?");
    EXPECT_EQ(decode(unknown.bytes(), "T", kBudget).kind, Kind::Malformed);
}

TEST(MdbProtocol, EveryCutOfAStreamIsMalformed) {
    const std::string whole = everyKind();
    for (std::size_t length = 0; length < whole.size(); ++length) {
        EXPECT_EQ(decode(std::string_view(whole).substr(0, length), "T", kBudget).kind, Kind::Malformed)
            << "cut at " << length;
    }
    EXPECT_EQ(decode(whole + "E", "T", kBudget).kind, Kind::Malformed);
}

TEST(MdbProtocol, RejectsWhatTheReaderNeverWrites) {
    const auto malformed = [](const std::string& bytes) {
        const Decoded decoded = decode(bytes, "T", kBudget);
        EXPECT_EQ(decoded.kind, Kind::Malformed);
        return decoded.message;
    };
    EXPECT_NE(malformed("").find("no output"), std::string::npos);
    EXPECT_NE(malformed("hello, world").find("start"), std::string::npos);
    malformed(Stream().put(tag::kRow).bytes());                                // rows before a header
    malformed(Stream().header({"a"}).put(tag::kRow).put('Q').end(1).bytes());  // unknown cell kind
    malformed(Stream().header({"a"}).put('Z').end(0).bytes());                 // unknown record
    malformed(
        Stream().header({"a"}).put(tag::kRow).put(tag::kBoolean).number<std::uint8_t>(2).end(1).bytes());
    malformed(Stream().header({"a"}).put(tag::kRow).put(tag::kString).text("\xc3(").end(1).bytes());
    malformed(Stream().header({"\xff"}).end(0).bytes());  // name not UTF-8
    EXPECT_NE(malformed(Stream().header({"a"}).end(3).bytes()).find("3 rows"), std::string::npos);
    // A length that points past the end, and a column count no stream of that size can hold.
    malformed(
        Stream().header({"a"}).put(tag::kRow).put(tag::kString).number<std::uint32_t>(0xffffffff).bytes());
    EXPECT_NE(
        malformed(Stream().put(tag::kHeader).number<std::uint32_t>(1000000).end(0).bytes()).find("1000000"),
        std::string::npos);
}

TEST(MdbProtocol, ChargesTheTablesMemoryAgainstTheBudget) {
    Stream s;
    s.header({"a"});
    const int rows = 1000;
    for (int i = 0; i < rows; ++i) s.put(tag::kRow).put(tag::kNull);
    const std::string bytes = s.end(rows).bytes();
    // Two bytes a row on the wire, but far more than that in memory.
    EXPECT_EQ(decode(bytes, "T", rows * (kRowCost + kCellCost) + 100).kind, Kind::Table);
    const Decoded tight = decode(bytes, "T", bytes.size() * 4);
    EXPECT_EQ(tight.kind, Kind::Malformed);
    EXPECT_NE(tight.message.find("memory"), std::string::npos);
}

TEST(MdbProtocol, NoChangedByteMakesTheDecoderMisbehave) {
    // Run under the sanitizers this finds any read past the stream or other undefined behaviour.
    const std::string whole = everyKind();
    for (std::size_t at = 0; at < whole.size(); ++at) {
        for (const unsigned char value : {0x00, 0x01, 0x7f, 0x80, 0xff}) {
            std::string changed = whole;
            changed[at] = static_cast<char>(value);
            const Decoded decoded = decode(changed, "T", kBudget);
            if (decoded.kind == Kind::Table) {
                EXPECT_LE(decoded.table.rows.size(), 2u);
            }
        }
    }
}

TEST(MdbProtocol, Utf8CheckFollowsTheStandard) {
    EXPECT_TRUE(isUtf8(""));
    EXPECT_TRUE(isUtf8("plain"));
    EXPECT_TRUE(isUtf8("Français 中文 日本語 \xf0\x9f\x98\x80"));
    EXPECT_FALSE(isUtf8("\x80"));              // a continuation byte alone
    EXPECT_FALSE(isUtf8("\xc3"));              // cut short
    EXPECT_FALSE(isUtf8("\xc0\xaf"));          // overlong '/'
    EXPECT_FALSE(isUtf8("\xed\xa0\x80"));      // a surrogate
    EXPECT_FALSE(isUtf8("\xf4\x90\x80\x80"));  // above U+10FFFF
    EXPECT_FALSE(isUtf8("\xfe"));
}

}  // namespace
}  // namespace orvanta::mdb_protocol
