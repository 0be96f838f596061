#include "core/variant.h"

#include <cctype>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "core/text.h"
#include "core/vb_error.h"

namespace orvanta {
namespace {

const char* const kSource = "Orvanta";

// The dialect's numbers have a decimal point whatever the user's locale. A windowed run has the C
// library's numeric locale set to the user's (the toolkit does that), where a plain strtod stops at the
// point of "2.7"; so numbers are read in the C locale explicitly, and written with to_chars.
locale_t classicNumbers() {
    static const locale_t classic = newlocale(LC_NUMERIC_MASK, "C", nullptr);
    return classic;
}

template <class... Ts>
struct Overloaded : Ts... {
    using Ts::operator()...;
};
template <class... Ts>
Overloaded(Ts...) -> Overloaded<Ts...>;

// Reads a number at the start of text: optional sign, digits with an optional decimal point, an optional
// exponent, or the dialect's &H (hexadecimal) and &O (octal) forms. Returns the value and the number of
// characters used, or nothing when the text does not start with a number.
struct ParsedNumber {
    double value;
    std::size_t length;
};

std::optional<ParsedNumber> parseLeadingNumber(std::string_view text) {
    std::size_t i = 0;
    if (text.size() >= 2 && text[0] == '&') {
        const char radixMark = static_cast<char>(std::toupper(static_cast<unsigned char>(text[1])));
        const int radix = radixMark == 'H' ? 16 : radixMark == 'O' ? 8 : 0;
        if (radix == 0) return std::nullopt;
        i = 2;
        std::uint32_t value = 0;
        const std::size_t first = i;
        while (i < text.size()) {
            const int c = std::toupper(static_cast<unsigned char>(text[i]));
            int digit = -1;
            if (c >= '0' && c <= '9')
                digit = c - '0';
            else if (radix == 16 && c >= 'A' && c <= 'F')
                digit = c - 'A' + 10;
            if (digit < 0 || digit >= radix) break;
            value = value * static_cast<std::uint32_t>(radix) + static_cast<std::uint32_t>(digit);
            ++i;
        }
        if (i == first) return std::nullopt;
        // Like the dialect, up to four hex digits are a 16-bit pattern (&HFFFF is -1), more a 32-bit one.
        double result;
        if (i - first <= (radix == 16 ? 4u : 6u) && value <= 0xFFFF)
            result = static_cast<std::int16_t>(static_cast<std::uint16_t>(value));
        else
            result = static_cast<std::int32_t>(value);
        return ParsedNumber{result, i};
    }
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    bool digits = false;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
        ++i;
        digits = true;
    }
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
            ++i;
            digits = true;
        }
    }
    if (!digits) return std::nullopt;
    std::size_t end = i;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E' || text[i] == 'd' || text[i] == 'D')) {
        std::size_t j = i + 1;
        if (j < text.size() && (text[j] == '+' || text[j] == '-')) ++j;
        const std::size_t exponentDigits = j;
        while (j < text.size() && std::isdigit(static_cast<unsigned char>(text[j]))) ++j;
        if (j > exponentDigits) end = j;
    }
    std::string number(text.substr(0, end));
    for (char& c : number) {
        if (c == 'd' || c == 'D') c = 'E';
    }
    return ParsedNumber{strtod_l(number.c_str(), nullptr, classicNumbers()), end};
}

double checkedFinite(double value) {
    if (!std::isfinite(value)) throw VbError::standard(kOverflow, kSource);
    return value;
}

double numberOf(const Variant& value) {
    return visitVariant(
        value, Overloaded{
                   [](std::monostate) { return 0.0; },
                   [](Variant::NullTag) -> double { throw VbError::standard(kInvalidUseOfNull, kSource); },
                   [](std::int16_t v) { return static_cast<double>(v); },
                   [](std::int32_t v) { return static_cast<double>(v); },
                   [](double v) { return v; },
                   [](bool v) { return v ? -1.0 : 0.0; },
                   [](const std::string& v) -> double {
                       if (auto number = parseWholeNumber(v)) return checkedFinite(*number);
                       throw VbError::standard(kTypeMismatch, kSource);
                   },
                   [](const Variant::Array&) -> double { throw VbError::standard(kTypeMismatch, kSource); },
               });
}

}  // namespace

Variant Variant::null() { return Variant(Holder(NullTag{})); }

Variant Variant::integerArray(const std::vector<std::int16_t>& elements) {
    Array array;
    array.reserve(elements.size());
    for (std::int16_t element : elements) array.push_back(integer(element));
    return Variant::array(std::move(array));
}

const std::string& Variant::asText() const {
    if (const auto* text = std::get_if<std::string>(&value_)) return *text;
    throw VbError::standard(kTypeMismatch, kSource);
}

const Variant::Array& Variant::asArray() const {
    if (const auto* array = std::get_if<Array>(&value_)) return *array;
    throw VbError::standard(kTypeMismatch, kSource);
}

Variant::Array& Variant::asArray() {
    if (auto* array = std::get_if<Array>(&value_)) return *array;
    throw VbError::standard(kTypeMismatch, kSource);
}

std::string Variant::kindName() const {
    switch (kind()) {
        case Kind::Empty:
            return "Empty";
        case Kind::Null:
            return "Null";
        case Kind::Integer:
            return "Integer";
        case Kind::Long:
            return "Long";
        case Kind::Double:
            return "Double";
        case Kind::Boolean:
            return "Boolean";
        case Kind::String:
            return "String";
        case Kind::Array:
            return "Array";
    }
    return "Unknown";
}

double roundHalfEven(double value) { return std::nearbyint(value); }

std::int16_t narrowToInteger(double value) {
    if (!(value >= -32768.0 && value <= 32767.0)) throw VbError::standard(kOverflow, kSource);
    return static_cast<std::int16_t>(value);
}

std::int32_t narrowToLong(double value) {
    if (!(value >= -2147483648.0 && value <= 2147483647.0)) throw VbError::standard(kOverflow, kSource);
    return static_cast<std::int32_t>(value);
}

std::int16_t toInteger(const Variant& value) {
    if (const std::int16_t* integer = value.ifInteger()) return *integer;
    return narrowToInteger(roundHalfEven(numberOf(value)));
}

std::int32_t toLong(const Variant& value) { return narrowToLong(roundHalfEven(numberOf(value))); }

double toDouble(const Variant& value) { return numberOf(value); }

bool toBoolean(const Variant& value) {
    if (value.kind() == Variant::Kind::String) {
        const std::string_view text = trimBlanks(value.asText());
        if (equalsIgnoringAsciiCase(text, "True")) return true;
        if (equalsIgnoringAsciiCase(text, "False")) return false;
    }
    return numberOf(value) != 0.0;
}

std::string toText(const Variant& value) {
    return visitVariant(
        value,
        Overloaded{
            [](std::monostate) { return std::string(); },
            [](Variant::NullTag) -> std::string { throw VbError::standard(kInvalidUseOfNull, kSource); },
            [](std::int16_t v) { return std::to_string(v); },
            [](std::int32_t v) { return std::to_string(v); },
            [](double v) { return numberText(v); },
            [](bool v) { return std::string(v ? "True" : "False"); },
            [](const std::string& v) { return v; },
            [](const Variant::Array&) -> std::string { throw VbError::standard(kTypeMismatch, kSource); },
        });
}

std::string numberText(double value) {
    if (value == 0.0) return "0";
    // printf's %.15G in the C locale: 15 significant digits, upper-case exponent.
    char buffer[40];
    const auto written =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 15).ptr;
    std::string text(buffer, written);
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

double val(std::string_view text) {
    while (!text.empty() && (isBlank(text.front()) || text.front() == '\n' || text.front() == '\r'))
        text.remove_prefix(1);
    const auto number = parseLeadingNumber(text);
    return number && std::isfinite(number->value) ? number->value : 0.0;
}

std::optional<double> parseWholeNumber(std::string_view text) {
    text = trimBlanks(text);
    const auto number = parseLeadingNumber(text);
    if (!number || number->length != text.size()) return std::nullopt;
    return number->value;
}

}  // namespace orvanta
