#include "adapters/mqtt/mqtt_payload.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <nlohmann/json.hpp>

#include "core/vb_error.h"

namespace orvanta {
namespace {

using Json = nlohmann::json;

Variant wholeNumber(double value) {
    if (value >= std::numeric_limits<std::int16_t>::min() &&
        value <= std::numeric_limits<std::int16_t>::max())
        return Variant::integer(static_cast<std::int16_t>(value));
    if (value >= std::numeric_limits<std::int32_t>::min() &&
        value <= std::numeric_limits<std::int32_t>::max())
        return Variant::longInt(static_cast<std::int32_t>(value));
    return Variant::real(value);
}

std::optional<Variant> scalar(const Json& json) {
    if (json.is_string()) return Variant::text(json.get<std::string>());
    if (json.is_number_integer()) {
        if (json.is_number_unsigned()) {
            const auto value = json.get<std::uint64_t>();
            if (value > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max()))
                return Variant::real(static_cast<double>(value));
            return wholeNumber(static_cast<double>(value));
        }
        const auto value = json.get<std::int64_t>();
        if (value < std::numeric_limits<std::int32_t>::min() ||
            value > std::numeric_limits<std::int32_t>::max())
            return Variant::real(static_cast<double>(value));
        return wholeNumber(static_cast<double>(value));
    }
    if (json.is_number_float()) {
        const double value = json.get<double>();
        if (std::isfinite(value) && std::trunc(value) == value) return wholeNumber(value);
        return Variant::real(value);
    }
    return std::nullopt;
}

VbError unwritable(std::string_view name, const std::string& why) {
    return VbError(kTypeMismatch,
                   "Process variable '" + std::string(name) + "' cannot be sent to the broker: " + why,
                   kMqttVariablesSource);
}

Json scalarJson(std::string_view name, const Variant& value) {
    switch (value.kind()) {
        case Variant::Kind::Integer:
            return *value.ifInteger();
        case Variant::Kind::Long:
            return toLong(value);
        case Variant::Kind::Boolean:
            return toInteger(value);  // the dialect's -1 / 0
        case Variant::Kind::Double: {
            const double number = toDouble(value);
            if (!std::isfinite(number)) throw unwritable(name, "the number is not finite");
            return number;
        }
        case Variant::Kind::String:
            return value.asText();
        case Variant::Kind::Null:
            throw VbError(kInvalidUseOfNull,
                          "Process variable '" + std::string(name) + "' cannot be set to Null",
                          kMqttVariablesSource);
        case Variant::Kind::Empty:
            throw unwritable(name, "the value is Empty");
        case Variant::Kind::Array:
            throw unwritable(name, "an array inside an array");
    }
    throw unwritable(name, "unknown kind");
}

}  // namespace

std::optional<Variant> decodeVariablePayload(std::string_view payload, std::string& problem) {
    if (payload.size() > kMaxVariablePayload) {
        problem = "the payload of " + std::to_string(payload.size()) + " bytes is larger than 1 MiB";
        return std::nullopt;
    }
    const Json json = Json::parse(payload.begin(), payload.end(), nullptr, false);
    if (json.is_discarded()) {
        problem = "the payload is not JSON";
        return std::nullopt;
    }
    if (json.is_array()) {
        if (json.size() > kMaxVariableArrayElements) {
            problem = "the array has " + std::to_string(json.size()) + " elements, more than " +
                      std::to_string(kMaxVariableArrayElements);
            return std::nullopt;
        }
        Variant::Array elements;
        elements.reserve(json.size());
        for (const Json& element : json) {
            std::optional<Variant> value = scalar(element);
            if (!value) {
                problem =
                    "an array element is " + std::string(element.type_name()) + ", not a number or string";
                return std::nullopt;
            }
            elements.push_back(std::move(*value));
        }
        return Variant::array(std::move(elements));
    }
    std::optional<Variant> value = scalar(json);
    if (!value)
        problem =
            "the payload is a JSON " + std::string(json.type_name()) + ", not a number, string or array";
    return value;
}

std::string encodeVariablePayload(std::string_view name, const Variant& value) {
    Json json;
    if (value.isArray()) {
        json = Json::array();
        for (const Variant& element : value.asArray()) json.push_back(scalarJson(name, element));
    } else {
        json = scalarJson(name, value);
    }
    try {
        return json.dump();
    } catch (const Json::exception&) {
        throw unwritable(name, "the text is not valid UTF-8");
    }
}

}  // namespace orvanta
