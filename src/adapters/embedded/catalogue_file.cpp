// Reads the plant's variable catalogue with nlohmann/json. The file comes from the plant, so it is
// treated as foreign input: its size and nesting depth are bounded before anything is built from it,
// every JSON exception is turned into a VbError naming the file, and every entry is checked for exactly
// the keys it may have, so that a typing error shows up at start instead of as a variable stuck at 0.
#include "adapters/embedded/catalogue_file.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <new>
#include <nlohmann/json.hpp>
#include <unordered_map>
#include <utility>

#include "core/vb_error.h"

namespace orvanta {
namespace {

using Json = nlohmann::json;

// The format needs four levels (document, list, entry, array value); anything far deeper is not a
// catalogue, and refusing it early keeps a hostile file from costing stack or memory.
constexpr int kMaxDepth = 16;
// Far more than a catalogue at its element limit needs; the parsed document costs several times the text.
constexpr std::uintmax_t kMaxFileBytes = 4u * 1024u * 1024u;

struct TooDeep {};

// A fault inside one entry; the caller adds the file and the entry.
struct EntryProblem {
    std::int32_t number;
    std::string what;
};

VbError fileError(std::int32_t number, const std::string& origin, const std::string& what) {
    return VbError(number, origin + ": " + what, kEmbeddedRuntimeSource);
}

// nlohmann's messages start with "[json.exception.parse_error.101] "; the rest says where and what.
std::string jsonMessage(const Json::exception& error) {
    std::string message = error.what();
    const auto bracket = message.find("] ");
    if (message.starts_with("[json.exception.") && bracket != std::string::npos)
        message.erase(0, bracket + 2);
    // The message quotes what the parser last read, which may be any bytes; the log wants plain text.
    for (char& c : message) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte >= 0x7F) c = '?';
    }
    return message;
}

std::string jsonKind(const Json& value) { return value.type_name(); }

Variant toVariant(const Json& value) {
    switch (value.type()) {
        case Json::value_t::null:
            return Variant::null();
        case Json::value_t::boolean:
            return Variant::boolean(value.get<bool>());
        case Json::value_t::number_integer: {
            const auto number = value.get<std::int64_t>();
            if (number >= std::numeric_limits<std::int32_t>::min() &&
                number <= std::numeric_limits<std::int32_t>::max())
                return Variant::longInt(static_cast<std::int32_t>(number));
            return Variant::real(static_cast<double>(number));
        }
        case Json::value_t::number_unsigned: {
            const auto number = value.get<std::uint64_t>();
            if (number <= static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max()))
                return Variant::longInt(static_cast<std::int32_t>(number));
            return Variant::real(static_cast<double>(number));
        }
        case Json::value_t::number_float:
            return Variant::real(value.get<double>());
        case Json::value_t::string:
            return Variant::text(value.get<std::string>());
        case Json::value_t::array: {
            Variant::Array elements;
            elements.reserve(value.size());
            for (const Json& element : value) elements.push_back(toVariant(element));
            return Variant::array(std::move(elements));
        }
        default:
            throw EntryProblem{kInvalidFileFormat, "\"value\" is " + jsonKind(value) + ", not a value"};
    }
}

VariableType typeOf(const Json& type) {
    if (!type.is_string())
        throw EntryProblem{kInvalidFileFormat, "\"type\" must be a text, not " + jsonKind(type)};
    const auto& text = type.get_ref<const std::string&>();
    for (VariableType candidate : {VariableType::Integer, VariableType::Long, VariableType::Double,
                                   VariableType::Boolean, VariableType::String, VariableType::IntegerArray}) {
        if (text == typeName(candidate)) return candidate;
    }
    throw EntryProblem{
        kInvalidFileFormat,
        "unknown type \"" + text + "\" (use integer, long, double, boolean, string or integer[])"};
}

bool hasControlCharacter(const std::string& text) {
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7F) return true;
    }
    return false;
}

// total: the elements of the entries before this one; the entry's are added before its value is built.
CatalogueEntry parseEntry(const Json& item, std::int64_t& total) {
    if (!item.is_object())
        throw EntryProblem{kInvalidFileFormat, "an entry must be an object, not " + jsonKind(item)};
    for (const auto& [key, unused] : item.items()) {
        if (key != "name" && key != "type" && key != "count" && key != "value" && key != "comment")
            throw EntryProblem{kInvalidFileFormat, "unknown key \"" + key +
                                                       "\" (an entry has name, type, count, value, comment)"};
    }

    CatalogueEntry entry;
    const auto name = item.find("name");
    if (name == item.end()) throw EntryProblem{kInvalidFileFormat, "\"name\" is missing"};
    if (!name->is_string())
        throw EntryProblem{kInvalidFileFormat, "\"name\" must be a text, not " + jsonKind(*name)};
    entry.name = name->get<std::string>();
    if (entry.name.empty()) throw EntryProblem{kInvalidFileFormat, "\"name\" is empty"};
    if (hasControlCharacter(entry.name))
        throw EntryProblem{kInvalidFileFormat, "\"name\" contains a control character"};

    const auto type = item.find("type");
    if (type == item.end()) throw EntryProblem{kInvalidFileFormat, "\"type\" is missing"};
    entry.type = typeOf(*type);

    const auto count = item.find("count");
    if (entry.type == VariableType::IntegerArray) {
        if (count == item.end()) throw EntryProblem{kInvalidFileFormat, "\"count\" is missing for integer[]"};
        const bool whole = count->is_number_integer();
        const std::int64_t number = whole ? count->get<std::int64_t>() : 0;
        if (!whole || number < 1 || number > kMaxArrayElements)
            throw EntryProblem{kInvalidFileFormat, "\"count\" must be a whole number from 1 to " +
                                                       std::to_string(kMaxArrayElements) + ", not " +
                                                       count->dump()};
        entry.elementCount = static_cast<std::int32_t>(number);
    } else if (count != item.end()) {
        throw EntryProblem{kInvalidFileFormat, "\"count\" belongs to integer[] only"};
    }
    // Each entry is cheap to write and costs memory per element: the whole catalogue is bounded.
    total += entry.type == VariableType::IntegerArray ? entry.elementCount : 1;
    if (total > kMaxCatalogueElements)
        throw EntryProblem{kInvalidFileFormat,
                           "the catalogue holds more than " + std::to_string(kMaxCatalogueElements) +
                               " elements in all (a variable counts 1, an integer[] its count)"};

    const auto value = item.find("value");
    const Variant initial =
        value == item.end() ? zeroValue(entry.type, entry.elementCount) : toVariant(*value);
    try {
        entry.initialValue = convertToDeclaredType(entry.name, entry.type, entry.elementCount, initial);
    } catch (const VbError& error) {
        throw EntryProblem{error.number(), "bad \"value\": " + error.description()};
    }
    return entry;
}

std::string entryLabel(std::size_t index, const Json& item) {
    std::string label = "entry " + std::to_string(index + 1);
    if (item.is_object()) {
        const auto name = item.find("name");
        if (name != item.end() && name->is_string()) label += " '" + name->get<std::string>() + "'";
    }
    return label;
}

std::vector<CatalogueEntry> parseDocument(const Json& document, const std::string& origin) {
    if (!document.is_object())
        throw fileError(kInvalidFileFormat, origin, "the file must hold an object with a \"variables\" list");
    for (const auto& [key, unused] : document.items()) {
        if (key != "variables" && key != "comment")
            throw fileError(kInvalidFileFormat, origin,
                            "unknown key \"" + key + "\" at the top (use variables)");
    }
    const auto variables = document.find("variables");
    if (variables == document.end()) throw fileError(kInvalidFileFormat, origin, "\"variables\" is missing");
    if (!variables->is_array())
        throw fileError(kInvalidFileFormat, origin,
                        "\"variables\" must be a list, not " + jsonKind(*variables));

    std::vector<CatalogueEntry> entries;
    entries.reserve(std::min<std::size_t>(variables->size(), kMaxCatalogueElements));
    std::unordered_map<std::string, std::size_t> seen;
    std::int64_t total = 0;
    for (std::size_t i = 0; i < variables->size(); ++i) {
        const Json& item = (*variables)[i];
        try {
            entries.push_back(parseEntry(item, total));
        } catch (const EntryProblem& problem) {
            throw fileError(problem.number, origin, entryLabel(i, item) + ": " + problem.what);
        }
        const auto [earlier, added] = seen.emplace(entries.back().name, i);
        if (!added)
            throw fileError(kInvalidFileFormat, origin,
                            entryLabel(i, item) + ": the name is already declared by entry " +
                                std::to_string(earlier->second + 1));
    }
    return entries;
}

}  // namespace

std::vector<CatalogueEntry> parseCatalogue(std::string_view text, const std::string& origin) {
    try {
        const Json::parser_callback_t depthGuard = [](int depth, Json::parse_event_t, Json&) {
            if (depth > kMaxDepth) throw TooDeep{};
            return true;
        };
        const Json document = Json::parse(text.begin(), text.end(), depthGuard);
        return parseDocument(document, origin);
    } catch (const TooDeep&) {
        throw fileError(kInvalidFileFormat, origin,
                        "nested deeper than " + std::to_string(kMaxDepth) + " levels");
    } catch (const Json::exception& error) {
        throw fileError(kInvalidFileFormat, origin, "not valid JSON: " + jsonMessage(error));
    } catch (const std::bad_alloc&) {
        throw fileError(kOutOfMemory, origin, "out of memory while reading the catalogue");
    }
}

std::vector<CatalogueEntry> loadCatalogueFile(const std::string& path) {
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    if (!fs::exists(status)) throw VbError(kFileNotFound, "File not found: " + path, kEmbeddedRuntimeSource);
    if (!fs::is_regular_file(status)) throw fileError(kPathFileAccessError, path, "not a regular file");
    const std::uintmax_t size = fs::file_size(path, error);
    if (error) throw fileError(kPathFileAccessError, path, "cannot be read (" + error.message() + ")");
    if (size > kMaxFileBytes)
        throw fileError(kInvalidFileFormat, path, "larger than " + std::to_string(kMaxFileBytes) + " bytes");

    std::ifstream in(path, std::ios::binary);
    if (!in) throw fileError(kPathFileAccessError, path, "cannot be opened");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) throw fileError(kPathFileAccessError, path, "cannot be read");
    return parseCatalogue(text, path);
}

}  // namespace orvanta
