// Process values travel as a Variant, and every conversion between its kinds lives here. The panel's
// behaviour was defined in a BASIC dialect whose conversions are part of what the plant sees (a value of
// 2.5 is written as 2, a text "12abc" is a type mismatch, not 12), so they follow that dialect exactly:
//   to a 16-bit or 32-bit integer: numbers round half to even; out of range is error 6; a text converts
//     only when the whole text is a number (else 13); Null is 94.
//   to a Boolean: a number is true when non-zero; the texts True and False in any case, or a numeric text.
//   to text: Booleans as True / False, numbers in plain decimal.
//   val(): the number at the start of a text, 0 when there is none.
// Booleans stored as 16-bit integers are -1 (true) and 0 (false).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace orvanta {

inline constexpr std::int16_t kTrue = -1;
inline constexpr std::int16_t kFalse = 0;

// A 16-bit Boolean as the dialect stores it.
constexpr std::int16_t vbBool(bool value) { return value ? kTrue : kFalse; }

class Variant {
public:
    enum class Kind { Empty, Null, Integer, Long, Double, Boolean, String, Array };
    using Array = std::vector<Variant>;

    Variant() = default;  // Empty
    static Variant null();
    static Variant integer(std::int16_t value) { return Variant(Holder(value)); }
    static Variant longInt(std::int32_t value) { return Variant(Holder(value)); }
    static Variant real(double value) { return Variant(Holder(value)); }
    static Variant boolean(bool value) { return Variant(Holder(value)); }
    static Variant text(std::string value) { return Variant(Holder(std::move(value))); }
    static Variant array(Array elements) { return Variant(Holder(std::move(elements))); }
    // An array of 16-bit integers, the shape of the runtime's integer arrays.
    static Variant integerArray(const std::vector<std::int16_t>& elements);

    Kind kind() const { return static_cast<Kind>(value_.index()); }
    bool isEmpty() const { return kind() == Kind::Empty; }
    bool isNull() const { return kind() == Kind::Null; }
    bool isArray() const { return kind() == Kind::Array; }

    // The value of an Integer variant, or nothing for any other kind.
    const std::int16_t* ifInteger() const { return std::get_if<std::int16_t>(&value_); }

    // Direct access for callers that know the kind; a wrong kind is error 13.
    const std::string& asText() const;
    const Array& asArray() const;
    Array& asArray();

    // The dialect's name of the kind ("Integer", "String", ...), for messages.
    std::string kindName() const;

    friend bool operator==(const Variant& a, const Variant& b) { return a.value_ == b.value_; }

    // The Null kind's payload, visible to the visitors of the conversions.
    struct NullTag {
        friend bool operator==(NullTag, NullTag) { return true; }
    };

private:
    using Holder =
        std::variant<std::monostate, NullTag, std::int16_t, std::int32_t, double, bool, std::string, Array>;
    explicit Variant(Holder value) : value_(std::move(value)) {}

    Holder value_;

    template <typename Visitor>
    friend decltype(auto) visitVariant(const Variant& value, Visitor&& visitor) {
        return std::visit(std::forward<Visitor>(visitor), value.value_);
    }
};

// Conversions; each throws VbError (6, 13 or 94) as the dialect would.
std::int16_t toInteger(const Variant& value);
std::int32_t toLong(const Variant& value);
double toDouble(const Variant& value);
bool toBoolean(const Variant& value);
std::string toText(const Variant& value);

// The numeric value of a text: the number at its start after leading blanks, 0 when there is none.
double val(std::string_view text);

// The whole text as a number (blanks around it allowed), or nothing when it is not one.
std::optional<double> parseWholeNumber(std::string_view text);

// Round to the nearest integer, halves to the even neighbour (the dialect's rounding).
double roundHalfEven(double value);

// The dialect's plain decimal text of a number (15 significant digits, exponent form beyond them).
std::string numberText(double value);

// Range-checked narrowing of an already integral value: error 6 when it does not fit.
std::int16_t narrowToInteger(double value);
std::int32_t narrowToLong(double value);

}  // namespace orvanta
