// Reads the line description file (format in the header). The JSON is parsed whole into a document
// first and then walked field by field, so that every complaint can say where it is: the file, the
// machine index and the field. Nothing from the JSON library leaves this file; its exceptions become
// VbErrors. The size limit keeps a wrong file (a log, a database) from being read into memory whole.
#include "adapters/embedded/line_description_file.h"

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <limits>
#include <new>
#include <nlohmann/json.hpp>
#include <string>
#include <system_error>
#include <utility>

#include "core/vb_error.h"

namespace orvanta {
namespace {

using Json = nlohmann::json;

const char* const kSource = "LineDescription";
constexpr std::int32_t kNoSuchMember = 438;  // the dialect's "Object doesn't support this property or method"
constexpr std::size_t kMaxFileBytes = 1024 * 1024;

// Where in the file a value stands: "machine 3, field \"number\"" and the like.
class Place {
public:
    Place(const std::string& origin, std::string where) : origin_(origin), where_(std::move(where)) {}
    [[noreturn]] void fail(std::int32_t number, const std::string& what) const {
        throw VbError(number, origin_ + ": " + where_ + ": " + what, kSource);
    }
    Place field(const std::string& name) const { return Place(origin_, where_ + ", field \"" + name + "\""); }
    Place element(std::size_t index) const {
        return Place(origin_, where_ + " element " + std::to_string(index));
    }

private:
    const std::string& origin_;
    std::string where_;
};

std::string typeName(const Json& value) {
    if (value.is_number()) return "a number";
    if (value.is_boolean()) return "true/false";
    if (value.is_string()) return "a text";
    if (value.is_array()) return "a list";
    if (value.is_object()) return "an object";
    return "null";
}

bool readBool(const Json& value, const Place& place) {
    if (!value.is_boolean()) place.fail(kTypeMismatch, "expected true or false, found " + typeName(value));
    return value.get<bool>();
}

std::string readText(const Json& value, const Place& place) {
    if (!value.is_string()) place.fail(kTypeMismatch, "expected a text, found " + typeName(value));
    return value.get<std::string>();
}

template <typename Int>
Int readWhole(const Json& value, const Place& place) {
    constexpr auto kMin = static_cast<std::int64_t>(std::numeric_limits<Int>::min());
    constexpr auto kMax = static_cast<std::int64_t>(std::numeric_limits<Int>::max());
    const std::string range = std::to_string(kMin) + ".." + std::to_string(kMax);
    if (value.is_number_unsigned()) {
        const auto number = value.get<std::uint64_t>();
        if (number > static_cast<std::uint64_t>(kMax))
            place.fail(kOverflow, std::to_string(number) + " is outside " + range);
        return static_cast<Int>(number);
    }
    if (value.is_number_integer()) {
        const auto number = value.get<std::int64_t>();
        if (number < kMin || number > kMax)
            place.fail(kOverflow, std::to_string(number) + " is outside " + range);
        return static_cast<Int>(number);
    }
    if (value.is_number_float()) {
        const double number = value.get<double>();
        if (!std::isfinite(number) || std::trunc(number) != number)
            place.fail(kTypeMismatch, "expected a whole number, found " + value.dump());
        if (number < static_cast<double>(kMin) || number > static_cast<double>(kMax))
            place.fail(kOverflow, value.dump() + " is outside " + range);
        return static_cast<Int>(number);
    }
    place.fail(kTypeMismatch, "expected a whole number, found " + typeName(value));
}

void readGroupSlots(const Json& value, const Place& place, LineMachine& machine) {
    if (!value.is_array())
        place.fail(kTypeMismatch, "expected a list of six numbers, found " + typeName(value));
    if (value.size() != machine.groupSlots.size())
        place.fail(kSubscriptOutOfRange, "expected six numbers, found " + std::to_string(value.size()));
    for (std::size_t i = 0; i < machine.groupSlots.size(); ++i)
        machine.groupSlots[i] = readWhole<std::int16_t>(value[i], place.element(i));
}

// The three live values of a machine, in a description (start values) and in the values a source sends;
// false when name is none of them.
template <typename Machine>
bool readLiveValue(const std::string& name, const Json& field, const Place& at, Machine& machine) {
    if (name == "languageId")
        machine.languageId = readWhole<std::int32_t>(field, at);
    else if (name == "status")
        machine.status = readWhole<std::int16_t>(field, at);
    else if (name == "message")
        machine.message = readText(field, at);
    else
        return false;
    return true;
}

LineMachine readMachine(const Json& value, const Place& place) {
    if (!value.is_object()) place.fail(kTypeMismatch, "expected an object, found " + typeName(value));
    LineMachine machine;
    for (const auto& [name, field] : value.items()) {
        const Place at = place.field(name);
        if (name == "enabled")
            machine.enabled = readBool(field, at);
        else if (name == "name")
            machine.name = readText(field, at);
        else if (name == "coName")
            machine.coName = readText(field, at);
        else if (name == "number")
            machine.number = readWhole<std::int16_t>(field, at);
        else if (name == "remote")
            machine.remote = readBool(field, at);
        else if (name == "textFlag")
            machine.textFlag = readBool(field, at);
        else if (name == "symbol")
            machine.symbol = readWhole<std::int16_t>(field, at);
        else if (name == "foreign")
            machine.foreign = readBool(field, at);
        else if (name == "group")
            machine.group = readWhole<std::int16_t>(field, at);
        else if (name == "groupSlots")
            readGroupSlots(field, at, machine);
        else if (!readLiveValue(name, field, at, machine))
            at.fail(kNoSuchMember, "unknown field");
    }
    return machine;
}

void readGroups(const Json& value, const Place& place, LineDescription& line) {
    if (!value.is_array()) place.fail(kTypeMismatch, "expected a list of texts, found " + typeName(value));
    if (value.size() > line.groups.size())
        place.fail(kSubscriptOutOfRange, std::to_string(value.size()) + " groups, at most " +
                                             std::to_string(line.groups.size()) + " are possible");
    for (std::size_t g = 0; g < value.size(); ++g) line.groups[g] = readText(value[g], place.element(g));
}

void readMachines(const Json& value, const Place& place, const std::string& origin, LineDescription& line) {
    if (!value.is_array()) place.fail(kTypeMismatch, "expected a list of machines, found " + typeName(value));
    if (value.size() > line.machines.size())
        place.fail(kSubscriptOutOfRange, std::to_string(value.size()) + " machines, at most " +
                                             std::to_string(line.machines.size()) + " are possible");
    for (std::size_t m = 0; m < value.size(); ++m)
        line.machines[m] = readMachine(value[m], Place(origin, "machine " + std::to_string(m)));
}

LineDescription readLine(const Json& document, const std::string& origin) {
    const Place top(origin, "line");
    if (!document.is_object()) top.fail(kTypeMismatch, "expected an object, found " + typeName(document));
    LineDescription line;
    for (const auto& [name, field] : document.items()) {
        const Place at = top.field(name);
        if (name == "languageId")
            line.languageId = readWhole<std::int32_t>(field, at);
        else if (name == "groups")
            readGroups(field, at, line);
        else if (name == "machines")
            readMachines(field, at, origin, line);
        else
            at.fail(kNoSuchMember, "unknown field");
    }
    return line;
}

MachineValues readMachineValues(const Json& value, const Place& place) {
    if (!value.is_object()) place.fail(kTypeMismatch, "expected an object, found " + typeName(value));
    MachineValues machine;
    for (const auto& [name, field] : value.items()) {
        const Place at = place.field(name);
        if (!readLiveValue(name, field, at, machine)) at.fail(kNoSuchMember, "unknown field");
    }
    return machine;
}

LineValues readValues(const Json& document, const std::string& origin) {
    const Place top(origin, "line values");
    if (!document.is_object()) top.fail(kTypeMismatch, "expected an object, found " + typeName(document));
    LineValues values{};
    for (const auto& [name, field] : document.items()) {
        const Place at = top.field(name);
        if (name != "machines") at.fail(kNoSuchMember, "unknown field");
        if (!field.is_array())
            at.fail(kTypeMismatch, "expected a list of machines, found " + typeName(field));
        if (field.size() > values.size())
            at.fail(kSubscriptOutOfRange, std::to_string(field.size()) + " machines, at most " +
                                              std::to_string(values.size()) + " are possible");
        for (std::size_t m = 0; m < field.size(); ++m)
            values[m] = readMachineValues(field[m], Place(origin, "machine " + std::to_string(m)));
    }
    return values;
}

// The library's messages start with a tag such as "[json.exception.parse_error.101] ".
std::string withoutTag(const std::string& message) {
    if (message.starts_with("[json.exception.")) {
        const auto end = message.find("] ");
        if (end != std::string::npos) return message.substr(end + 2);
    }
    return message;
}

std::string sizeLimitText() { return "larger than " + std::to_string(kMaxFileBytes / 1024) + " KiB"; }

// Parses json whole and walks it with read; no exception of the library leaves.
template <typename Read>
auto parseWith(std::string_view json, const std::string& origin, const char* what, Read read) {
    if (json.size() > kMaxFileBytes)
        throw VbError(kOutOfMemory, origin + ": " + sizeLimitText() + ", not " + what, kSource);
    Json document;
    try {
        document = Json::parse(json.begin(), json.end());
    } catch (const Json::exception& error) {
        throw VbError(kTypeMismatch, origin + ": not valid JSON: " + withoutTag(error.what()), kSource);
    } catch (const std::bad_alloc&) {
        throw VbError(kOutOfMemory, origin + ": out of memory while reading", kSource);
    }
    try {
        return read(document, origin);
    } catch (const Json::exception& error) {
        // Not expected after the checks while walking; kept so that no library exception can leave.
        throw VbError(kTypeMismatch, origin + ": " + withoutTag(error.what()), kSource);
    }
}

std::string dump(const Json& document) {
    return document.dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace

LineDescription parseLineDescription(std::string_view json, const std::string& origin) {
    return parseWith(json, origin, "a line description", readLine);
}

LineValues parseLineValues(std::string_view json, const std::string& origin) {
    return parseWith(json, origin, "line values", readValues);
}

std::string lineDescriptionJson(const LineDescription& description) {
    Json machines = Json::array();
    for (const LineMachine& machine : description.machines)
        machines.push_back({{"enabled", machine.enabled},
                            {"name", machine.name},
                            {"coName", machine.coName},
                            {"number", machine.number},
                            {"remote", machine.remote},
                            {"textFlag", machine.textFlag},
                            {"symbol", machine.symbol},
                            {"foreign", machine.foreign},
                            {"group", machine.group},
                            {"groupSlots", machine.groupSlots},
                            {"languageId", machine.languageId},
                            {"status", machine.status},
                            {"message", machine.message}});
    return dump(
        {{"languageId", description.languageId}, {"groups", description.groups}, {"machines", machines}});
}

std::string lineValuesJson(const LineValues& values) {
    Json machines = Json::array();
    for (const MachineValues& machine : values)
        machines.push_back(
            {{"languageId", machine.languageId}, {"status", machine.status}, {"message", machine.message}});
    return dump({{"machines", machines}});
}

std::string lineDisplayJson(const LineDisplayState& display) {
    Json slots = Json::array();
    for (const SlotDisplay& slot : display) {
        // Languages are identifiers: a whole number is written as one (1031, not 1031.0).
        const bool whole = std::isfinite(slot.language) && std::trunc(slot.language) == slot.language &&
                           std::abs(slot.language) < 9.0e15;
        Json language = whole ? Json(static_cast<std::int64_t>(slot.language)) : Json(slot.language);
        if (!std::isfinite(slot.language)) language = nullptr;
        slots.push_back({{"text", slot.text}, {"language", language}, {"status", slot.status}});
    }
    return dump(slots);
}

LineDescription loadLineDescription(const std::string& path) {
    namespace fs = std::filesystem;
    std::error_code code;
    const fs::file_status status = fs::status(path, code);
    if (status.type() == fs::file_type::not_found)
        throw VbError(kFileNotFound, "Line description not found: " + path, kSource);
    // Only a regular file: a directory cannot be read, and a pipe or a device could block or never end.
    if (code || status.type() != fs::file_type::regular)
        throw VbError(kPathFileAccessError, "Line description cannot be read: " + path, kSource);
    const std::uintmax_t size = fs::file_size(path, code);
    if (!code && size > kMaxFileBytes)
        throw VbError(kOutOfMemory, path + ": " + sizeLimitText() + ", not a line description", kSource);

    std::ifstream in(path, std::ios::binary);
    if (!in) throw VbError(kPathFileAccessError, "Line description cannot be read: " + path, kSource);
    // A file that grows while it is read stops being read past the limit; the parser then rejects it.
    std::string text;
    char buffer[4096];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        text.append(buffer, static_cast<std::size_t>(in.gcount()));
        if (text.size() > kMaxFileBytes) break;
    }
    if (in.bad()) throw VbError(kPathFileAccessError, "Line description cannot be read: " + path, kSource);
    return parseLineDescription(text, path);
}

}  // namespace orvanta
