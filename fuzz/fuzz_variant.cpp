// The Variant conversions on values of every kind built from the fuzzer's bytes. A VbError is what the
// dialect does with a value that does not convert; anything else that leaves a conversion (another
// exception, a sanitizer report, a crash) is a fault. Beyond that the conversions must agree with each
// other, because the panel mixes them freely: what converts to an Integer converts to the same Long, a
// number's text reads back as that number, val() of a whole number is that number.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <optional>
#include <string>

#include "core/variant.h"
#include "core/vb_error.h"
#include "fuzz_support.h"

namespace {

using orvanta::Variant;

[[noreturn]] void finding(const char* what) { orvanta::fuzz::finding("fuzz_variant", what); }

double makeDouble(FuzzedDataProvider& input) {
    static constexpr double kSpecial[] = {
        std::numeric_limits<double>::quiet_NaN(),
        std::numeric_limits<double>::infinity(),
        -std::numeric_limits<double>::infinity(),
        std::numeric_limits<double>::max(),
        std::numeric_limits<double>::lowest(),
        std::numeric_limits<double>::denorm_min(),
        -0.0,
        0.5,
        2.5,
        -2.5,
        32767.5,
        -32768.5,
        32768.0,
        2147483647.5,
        -2147483648.5,
        1e15,
        123456789012345678.0,
        9.999999999999999e22,
    };
    if (input.ConsumeBool()) return input.PickValueInArray(kSpecial);
    return input.ConsumeFloatingPoint<double>();
}

std::string makeText(FuzzedDataProvider& input) {
    static constexpr const char* kSpecial[] = {
        "",      " 12 ",  "12abc",       "&HFFFF",       "&H10000",      "&O177777", "&h",
        "1e308", "1e309", "-1D2",        "true",         "FALSE",        " True ",   ".",
        "-.5e",  "+",     "&HFFFFFFFFF", "2147483647.5", "\t-32768.5\t",
    };
    if (input.ConsumeBool()) return input.PickValueInArray(kSpecial);
    return input.ConsumeRandomLengthString(64);
}

Variant makeVariant(FuzzedDataProvider& input, int depth) {
    switch (input.ConsumeIntegralInRange<int>(0, 7)) {
        case 0:
            return Variant();
        case 1:
            return Variant::null();
        case 2:
            return Variant::integer(input.ConsumeIntegral<std::int16_t>());
        case 3:
            return Variant::longInt(input.ConsumeIntegral<std::int32_t>());
        case 4:
            return Variant::real(makeDouble(input));
        case 5:
            return Variant::boolean(input.ConsumeBool());
        case 6:
            return Variant::text(makeText(input));
        default: {
            Variant::Array elements;
            const int count = depth < 2 ? input.ConsumeIntegralInRange<int>(0, 4) : 0;
            for (int i = 0; i < count; ++i) elements.push_back(makeVariant(input, depth + 1));
            return Variant::array(std::move(elements));
        }
    }
}

template <typename Convert>
auto attempt(Convert convert) -> std::optional<decltype(convert())> {
    try {
        return convert();
    } catch (const orvanta::VbError&) {
        return std::nullopt;
    }
}

void checkNumberText(double number) {
    const std::string text = orvanta::numberText(number);
    if (!std::isfinite(number)) return;
    const std::optional<double> back = orvanta::parseWholeNumber(text);
    if (!back) finding("numberText of a finite number does not read back as a number");
    // The largest doubles round up past the range at 15 digits: their text is the dialect's overflow.
    if (!std::isfinite(*back) && std::abs(number) > 1.79769313486231e308) return;
    const double tolerance = std::max(std::abs(number) * 1e-14, 1e-320);
    if (!(std::abs(*back - number) <= tolerance)) finding("numberText does not keep 15 significant digits");
}

void checkText(const std::string& text) {
    const double leading = orvanta::val(text);
    if (!std::isfinite(leading)) finding("val gave a number that is not finite");
    const std::optional<double> whole = orvanta::parseWholeNumber(text);
    if (whole && std::isfinite(*whole) && leading != *whole)
        finding("val of a text that is a whole number differs from that number");
}

void checkConversions(const Variant& value) {
    const auto integer = attempt([&] { return orvanta::toInteger(value); });
    const auto longInt = attempt([&] { return orvanta::toLong(value); });
    const auto number = attempt([&] { return orvanta::toDouble(value); });
    const auto flag = attempt([&] { return orvanta::toBoolean(value); });
    const auto text = attempt([&] { return orvanta::toText(value); });
    (void)value.kindName();

    if (integer && (!longInt || *longInt != *integer)) finding("an Integer conversion without the same Long");
    if (longInt) {
        if (!number) finding("a Long conversion without a Double one");
        if (!(std::abs(*number - static_cast<double>(*longInt)) <= 0.5))
            finding("toLong is not toDouble rounded");
    }
    if (number && !flag && value.kind() != Variant::Kind::String) finding("a number without a Boolean");
    if (number && flag && value.kind() != Variant::Kind::String && *flag != (*number != 0.0))
        finding("toBoolean disagrees with the number");

    switch (value.kind()) {
        case Variant::Kind::Integer:
        case Variant::Kind::Long:
            if (!longInt || !text) finding("a whole number does not convert to Long or text");
            if (orvanta::parseWholeNumber(*text) != static_cast<double>(*longInt))
                finding("a whole number's text does not read back");
            break;
        case Variant::Kind::Double:
            if (!number) finding("toDouble of a Double failed");
            checkNumberText(*number);
            break;
        case Variant::Kind::Boolean: {
            if (!integer || !text) finding("a Boolean does not convert to Integer or text");
            if (*integer != orvanta::vbBool(*flag)) finding("a Boolean is not -1 or 0");
            if (orvanta::toBoolean(Variant::text(*text)) != *flag)
                finding("a Boolean's text reads back wrong");
            break;
        }
        case Variant::Kind::String:
            checkText(value.asText());
            if (!text || *text != value.asText()) finding("toText changed a text");
            break;
        case Variant::Kind::Null:
            if (text || number || flag) finding("Null converted without an error");
            break;
        case Variant::Kind::Empty:
            if (!text || !text->empty() || !integer || *integer != 0) finding("Empty is not \"\" and 0");
            break;
        case Variant::Kind::Array:
            if (text || number) finding("an array converted to a scalar");
            for (const Variant& element : value.asArray()) checkConversions(element);
            break;
    }

    const Variant copy = value;
    const bool isNan = value.kind() == Variant::Kind::Double && number && std::isnan(*number);
    if (!isNan && !value.isArray() && !(copy == value)) finding("a copy compares unequal");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const Variant first = makeVariant(input, 0);
    const Variant second = makeVariant(input, 0);
    checkConversions(first);
    checkConversions(second);
    (void)(first == second);
    const double number = makeDouble(input);
    checkNumberText(number);
    (void)attempt([&] { return orvanta::narrowToInteger(number); });
    (void)attempt([&] { return orvanta::narrowToLong(number); });
    (void)orvanta::roundHalfEven(number);
    checkText(input.ConsumeRemainingBytesAsString());
    return 0;
}
