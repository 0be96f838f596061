#include "adapters/mqtt/mqtt_payload.h"

#include <gtest/gtest.h>

#include <limits>

#include "support/vb_errors.h"

namespace orvanta {
namespace {

Variant decoded(std::string_view payload) {
    std::string problem;
    std::optional<Variant> value = decodeVariablePayload(payload, problem);
    EXPECT_TRUE(value.has_value()) << problem;
    return value.value_or(Variant());
}

std::string problemOf(std::string_view payload) {
    std::string problem;
    EXPECT_FALSE(decodeVariablePayload(payload, problem).has_value()) << payload;
    return problem;
}

TEST(MqttPayload, NumbersBecomeTheNarrowestKindThatHoldsThem) {
    EXPECT_EQ(decoded("32767"), Variant::integer(32767));
    EXPECT_EQ(decoded("-32768"), Variant::integer(-32768));
    EXPECT_EQ(decoded("32768"), Variant::longInt(32768));
    EXPECT_EQ(decoded("4.0"), Variant::integer(4));
    EXPECT_EQ(decoded("-2147483648"), Variant::longInt(-2147483647 - 1));
    EXPECT_EQ(decoded("2147483648"), Variant::real(2147483648.0));
    EXPECT_EQ(decoded("18446744073709551615"), Variant::real(18446744073709551615.0));
    EXPECT_EQ(decoded("2.5"), Variant::real(2.5));
    EXPECT_EQ(decoded("\"Linie 1\""), Variant::text("Linie 1"));
    EXPECT_EQ(decoded("[1, 70000, \"a\", 0.5]"), Variant::array({Variant::integer(1), Variant::longInt(70000),
                                                                 Variant::text("a"), Variant::real(0.5)}));
}

TEST(MqttPayload, OtherShapesAreRefusedWithAReason) {
    EXPECT_EQ(problemOf("{\"a\":1}"), "the payload is a JSON object, not a number, string or array");
    EXPECT_EQ(problemOf("true"), "the payload is a JSON boolean, not a number, string or array");
    EXPECT_EQ(problemOf("12abc"), "the payload is not JSON");
    EXPECT_EQ(problemOf(""), "the payload is not JSON");
    EXPECT_EQ(problemOf("[1, [2]]"), "an array element is array, not a number or string");
    EXPECT_EQ(problemOf(std::string(kMaxVariablePayload + 1, ' ')),
              "the payload of 1048577 bytes is larger than 1 MiB");
    // Arrays are bounded in elements, not only in bytes; the largest array a catalogue declares passes.
    const auto zeros = [](std::size_t count) {
        std::string text = "[0";
        for (std::size_t i = 1; i < count; ++i) text += ",0";
        return text + "]";
    };
    EXPECT_EQ(decoded(zeros(4096)).asArray().size(), 4096u);
    EXPECT_EQ(problemOf(zeros(4097)), "the array has 4097 elements, more than 4096");
}

TEST(MqttPayload, WrittenValuesReadBackAsTheyWereMeant) {
    for (const Variant& value : {Variant::integer(-5), Variant::longInt(100000), Variant::real(0.1),
                                 Variant::text("Ä \"quoted\""), Variant::integerArray({1, 2, 3})})
        EXPECT_EQ(decoded(encodeVariablePayload("V", value)), value) << value.kindName();
    EXPECT_EQ(encodeVariablePayload("V", Variant::boolean(true)), "-1");
    EXPECT_EQ(encodeVariablePayload("V", Variant::real(2.0)), "2.0");
}

TEST(MqttPayload, ValuesWithoutAFormAreErrorsNamingTheVariable) {
    for (const Variant& value :
         {Variant(), Variant::null(), Variant::real(std::numeric_limits<double>::infinity()),
          Variant::text("\xff"), Variant::array({Variant::integerArray({1})})}) {
        try {
            encodeVariablePayload("Drehzahl", value);
            ADD_FAILURE() << value.kindName();
        } catch (const VbError& error) {
            EXPECT_NE(error.description().find("'Drehzahl'"), std::string::npos) << error.description();
        }
    }
}

}  // namespace
}  // namespace orvanta
