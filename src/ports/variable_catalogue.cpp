// Conversion of written values to a variable's declared type, and the merge of the built-in catalogue
// with a plant's. Errors keep the dialect's number of the failed conversion but name the variable, so a
// fault line in the log says which variable refused which value.
#include "ports/variable_catalogue.h"

#include <algorithm>
#include <cmath>
#include <unordered_map>
#include <utility>

#include "core/vb_error.h"

namespace orvanta {
namespace {

std::string declaredText(VariableType type, std::int32_t elementCount) {
    if (type == VariableType::IntegerArray) return "integer[" + std::to_string(elementCount) + "]";
    return std::string(typeName(type));
}

// A short description of a value for a message: its kind and, for a scalar, its text.
std::string describe(const Variant& value) {
    switch (value.kind()) {
        case Variant::Kind::Empty:
            return "Empty";
        case Variant::Kind::Null:
            return "Null";
        case Variant::Kind::Array:
            return "an array of " + std::to_string(value.asArray().size()) + " elements";
        case Variant::Kind::String: {
            std::string text = value.asText();
            if (text.size() > 40) text = text.substr(0, 40) + "...";
            return "String \"" + text + "\"";
        }
        default:
            return value.kindName() + " " + toText(value);
    }
}

VbError refused(std::int32_t number, std::string_view name, VariableType type, std::int32_t elementCount,
                const std::string& what) {
    return VbError(number,
                   VbError::standardDescription(number) + ": " + what + " for process variable '" +
                       std::string(name) + "' (" + declaredText(type, elementCount) + ")",
                   kEmbeddedRuntimeSource);
}

Variant convertScalar(VariableType type, const Variant& value) {
    switch (type) {
        case VariableType::Integer:
            return Variant::integer(toInteger(value));
        case VariableType::Long:
            return Variant::longInt(toLong(value));
        case VariableType::Double: {
            const double number = toDouble(value);
            // The dialect has no infinite or undefined numbers; storing one would poison every reader.
            if (!std::isfinite(number)) throw VbError::standard(kOverflow, kEmbeddedRuntimeSource);
            return Variant::real(number);
        }
        case VariableType::Boolean:
            return Variant::boolean(toBoolean(value));
        case VariableType::String:
            return Variant::text(toText(value));
        case VariableType::IntegerArray:
            break;
    }
    throw VbError::standard(kTypeMismatch, kEmbeddedRuntimeSource);
}

}  // namespace

std::string_view typeName(VariableType type) {
    switch (type) {
        case VariableType::Integer:
            return "integer";
        case VariableType::Long:
            return "long";
        case VariableType::Double:
            return "double";
        case VariableType::Boolean:
            return "boolean";
        case VariableType::String:
            return "string";
        case VariableType::IntegerArray:
            return "integer[]";
    }
    return "unknown";
}

Variant zeroValue(VariableType type, std::int32_t elementCount) {
    switch (type) {
        case VariableType::Integer:
            return Variant::integer(0);
        case VariableType::Long:
            return Variant::longInt(0);
        case VariableType::Double:
            return Variant::real(0.0);
        case VariableType::Boolean:
            return Variant::boolean(false);
        case VariableType::String:
            return Variant::text("");
        case VariableType::IntegerArray:
            return Variant::integerArray(std::vector<std::int16_t>(
                static_cast<std::size_t>(std::max<std::int32_t>(elementCount, 0)), 0));
    }
    return {};
}

Variant convertToDeclaredType(std::string_view name, VariableType type, std::int32_t elementCount,
                              const Variant& value) {
    if (type != VariableType::IntegerArray) {
        try {
            return convertScalar(type, value);
        } catch (const VbError& error) {
            throw refused(error.number(), name, type, elementCount, describe(value) + " does not convert");
        }
    }
    if (elementCount < 1 || elementCount > kMaxArrayElements)
        throw refused(kInvalidCall, name, type, elementCount,
                      "an array holds 1 to " + std::to_string(kMaxArrayElements) + " elements");
    if (!value.isArray())
        throw refused(kTypeMismatch, name, type, elementCount, describe(value) + " is not an array");
    const Variant::Array& elements = value.asArray();
    if (elements.size() != static_cast<std::size_t>(elementCount))
        throw refused(kSubscriptOutOfRange, name, type, elementCount,
                      describe(value) + " where " + std::to_string(elementCount) + " are declared");
    Variant::Array converted;
    converted.reserve(elements.size());
    for (std::size_t i = 0; i < elements.size(); ++i) {
        try {
            converted.push_back(Variant::integer(toInteger(elements[i])));
        } catch (const VbError& error) {
            throw refused(
                error.number(), name, type, elementCount,
                "element " + std::to_string(i) + " (" + describe(elements[i]) + ") does not convert");
        }
    }
    return Variant::array(std::move(converted));
}

std::vector<CatalogueEntry> mergeCatalogues(std::vector<CatalogueEntry> builtin,
                                            std::vector<CatalogueEntry> plant, std::string_view plantOrigin) {
    std::unordered_map<std::string_view, std::size_t> builtinIndex;
    for (std::size_t i = 0; i < builtin.size(); ++i) builtinIndex.emplace(builtin[i].name, i);

    std::vector<CatalogueEntry> merged = builtin;
    for (CatalogueEntry& entry : plant) {
        const auto found = builtinIndex.find(entry.name);
        if (found == builtinIndex.end()) {
            merged.push_back(std::move(entry));
            continue;
        }
        const CatalogueEntry& fixed = builtin[found->second];
        const bool sameCount =
            fixed.type != VariableType::IntegerArray || fixed.elementCount == entry.elementCount;
        if (fixed.type != entry.type || !sameCount) {
            std::string where = plantOrigin.empty() ? std::string() : std::string(plantOrigin) + ": ";
            throw VbError(kTypeMismatch,
                          where + "process variable '" + entry.name + "' is built into the panel as " +
                              declaredText(fixed.type, fixed.elementCount) + " and cannot be declared as " +
                              declaredText(entry.type, entry.elementCount),
                          kEmbeddedRuntimeSource);
        }
        if (!entry.initialValue.isEmpty()) merged[found->second].initialValue = std::move(entry.initialValue);
    }
    return merged;
}

}  // namespace orvanta
