// The panel's decoder of what the Access reader writes. The stream comes from a child process that
// parses a possibly damaged file with libmdb, so it is hostile input. A stream that decodes to a table
// must be exactly what a reader writes for that table (the format has one spelling for every table),
// which catches a decoder that skips, reorders or invents anything.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "adapters/access/mdb_protocol.h"
#include "core/variant.h"
#include "fuzz_support.h"

namespace {

namespace protocol = orvanta::mdb_protocol;
using orvanta::Variant;

[[noreturn]] void finding(const char* what) { orvanta::fuzz::finding("fuzz_mdb_protocol", what); }

template <typename T>
void put(std::string& out, T value) {
    char bytes[sizeof(T)];
    std::memcpy(bytes, &value, sizeof(T));
    out.append(bytes, sizeof(T));
}

void putText(std::string& out, const std::string& text) {
    put(out, static_cast<std::uint32_t>(text.size()));
    out += text;
}

std::string encode(const orvanta::Table& table) {
    std::string out(protocol::kMagic);
    out += protocol::tag::kHeader;
    put(out, static_cast<std::uint32_t>(table.columns.size()));
    for (const std::string& column : table.columns) putText(out, column);
    for (const auto& row : table.rows) {
        out += protocol::tag::kRow;
        for (const Variant& cell : row) {
            switch (cell.kind()) {
                case Variant::Kind::Null:
                    out += protocol::tag::kNull;
                    break;
                case Variant::Kind::Integer:
                    out += protocol::tag::kInteger;
                    put(out, orvanta::toInteger(cell));
                    break;
                case Variant::Kind::Long:
                    out += protocol::tag::kLong;
                    put(out, orvanta::toLong(cell));
                    break;
                case Variant::Kind::Double:
                    out += protocol::tag::kDouble;
                    put(out, orvanta::toDouble(cell));
                    break;
                case Variant::Kind::Boolean:
                    out += protocol::tag::kBoolean;
                    put(out, static_cast<std::uint8_t>(orvanta::toBoolean(cell) ? 1 : 0));
                    break;
                case Variant::Kind::String:
                    out += protocol::tag::kString;
                    putText(out, cell.asText());
                    break;
                default:
                    finding("a decoded cell of a kind the stream cannot hold");
            }
        }
    }
    out += protocol::tag::kEnd;
    put(out, static_cast<std::uint64_t>(table.rows.size()));
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    // A budget small enough that the fuzzer reaches it with inputs of a few kilobytes.
    const protocol::Decoded decoded = protocol::decode(bytes, "Fuzz", std::size_t{64} << 10);
    switch (decoded.kind) {
        case protocol::Decoded::Kind::Table: {
            if (decoded.table.name != "Fuzz") finding("the table lost its name");
            for (const std::string& column : decoded.table.columns)
                if (!protocol::isUtf8(column)) finding("a column name is not UTF-8");
            for (const auto& row : decoded.table.rows) {
                if (row.size() != decoded.table.columns.size()) finding("a row of the wrong width");
                for (const Variant& cell : row)
                    if (cell.kind() == Variant::Kind::String && !protocol::isUtf8(cell.asText()))
                        finding("a String cell is not UTF-8");
            }
            if (encode(decoded.table) != bytes) finding("the decoded table is not what the stream says");
            break;
        }
        case protocol::Decoded::Kind::ReaderError:
            if (!protocol::isUtf8(decoded.message)) finding("a reader message is not UTF-8");
            break;
        case protocol::Decoded::Kind::Malformed:
            if (decoded.message.empty()) finding("a malformed stream without a reason");
            break;
    }
    return 0;
}
