#include "core/variant.h"

#include <gtest/gtest.h>

#include "core/vb_error.h"
#include "support/vb_errors.h"

namespace orvanta {
namespace {

using testing::errorNumberOf;

TEST(Variant, IntegerConversionRoundsHalfToEvenAndChecksTheRange) {
    EXPECT_EQ(toInteger(Variant::real(2.5)), 2);
    EXPECT_EQ(toInteger(Variant::real(3.5)), 4);
    EXPECT_EQ(toInteger(Variant::real(-2.5)), -2);
    EXPECT_EQ(toInteger(Variant::real(6565.714)), 6566);
    EXPECT_EQ(toInteger(Variant::real(32767.4)), 32767);
    EXPECT_EQ(toInteger(Variant::real(-32768.5)), -32768);
    EXPECT_EQ(toInteger(Variant::longInt(-32768)), -32768);
    EXPECT_EQ(errorNumberOf([] { toInteger(Variant::real(32767.5)); }), kOverflow);
    EXPECT_EQ(errorNumberOf([] { toInteger(Variant::longInt(70000)); }), kOverflow);
    EXPECT_EQ(errorNumberOf([] { toInteger(Variant::real(1e300 * 1e300)); }), kOverflow);
    EXPECT_EQ(errorNumberOf([] { toLong(Variant::real(2147483647.5)); }), kOverflow);
    EXPECT_EQ(toLong(Variant::real(2147483646.5)), 2147483646);
}

TEST(Variant, TextsConvertToNumbersOnlyWhenTheWholeTextIsANumber) {
    EXPECT_EQ(toInteger(Variant::text("1031")), 1031);
    EXPECT_EQ(toInteger(Variant::text("  -12  ")), -12);
    EXPECT_EQ(toInteger(Variant::text("2.5")), 2);
    EXPECT_EQ(toInteger(Variant::text("1E3")), 1000);
    EXPECT_EQ(toInteger(Variant::text("&HFFFF")), -1);
    EXPECT_EQ(toLong(Variant::text("&H10000")), 65536);
    EXPECT_EQ(errorNumberOf([] { toInteger(Variant::text("12abc")); }), kTypeMismatch);
    EXPECT_EQ(errorNumberOf([] { toInteger(Variant::text("")); }), kTypeMismatch);
    EXPECT_EQ(errorNumberOf([] { toInteger(Variant::text("True")); }), kTypeMismatch);
    EXPECT_EQ(errorNumberOf([] { toInteger(Variant::text("40000")); }), kOverflow);
    EXPECT_EQ(errorNumberOf([] { toDouble(Variant::text("1e999")); }), kOverflow);
}

TEST(Variant, NullEmptyBooleanAndArraysFollowTheDialect) {
    EXPECT_EQ(errorNumberOf([] { toInteger(Variant::null()); }), kInvalidUseOfNull);
    EXPECT_EQ(errorNumberOf([] { toText(Variant::null()); }), kInvalidUseOfNull);
    EXPECT_EQ(errorNumberOf([] { toBoolean(Variant::null()); }), kInvalidUseOfNull);
    EXPECT_EQ(toInteger(Variant()), 0);
    EXPECT_EQ(toText(Variant()), "");
    EXPECT_EQ(toInteger(Variant::boolean(true)), -1);
    EXPECT_EQ(toInteger(Variant::boolean(false)), 0);
    EXPECT_EQ(errorNumberOf([] { toInteger(Variant::integerArray({1, 2})); }), kTypeMismatch);
    EXPECT_EQ(errorNumberOf([] { toText(Variant::integerArray({1})); }), kTypeMismatch);
}

TEST(Variant, BooleanConversion) {
    EXPECT_TRUE(toBoolean(Variant::integer(1)));
    EXPECT_TRUE(toBoolean(Variant::integer(-1)));
    EXPECT_TRUE(toBoolean(Variant::real(0.1)));
    EXPECT_FALSE(toBoolean(Variant::integer(0)));
    EXPECT_TRUE(toBoolean(Variant::text("tRuE")));
    EXPECT_FALSE(toBoolean(Variant::text("FALSE")));
    EXPECT_TRUE(toBoolean(Variant::text("5")));
    EXPECT_FALSE(toBoolean(Variant::text("0")));
    EXPECT_EQ(errorNumberOf([] { toBoolean(Variant::text("yes")); }), kTypeMismatch);
    EXPECT_EQ(vbBool(true), -1);
    EXPECT_EQ(vbBool(false), 0);
}

TEST(Variant, TextForms) {
    EXPECT_EQ(toText(Variant::boolean(true)), "True");
    EXPECT_EQ(toText(Variant::boolean(false)), "False");
    EXPECT_EQ(toText(Variant::integer(-5)), "-5");
    EXPECT_EQ(toText(Variant::longInt(1031)), "1031");
    EXPECT_EQ(toText(Variant::real(1.5)), "1.5");
    EXPECT_EQ(toText(Variant::real(1234567.0)), "1234567");
    EXPECT_EQ(toText(Variant::real(0.1)), "0.1");
    EXPECT_EQ(toText(Variant::real(1e15)), "1E+15");
    EXPECT_EQ(toText(Variant::real(0.00001)), "1E-05");
    EXPECT_EQ(toText(Variant::real(-0.0)), "0");
}

TEST(Variant, ValReadsTheLeadingNumber) {
    EXPECT_EQ(val("1031"), 1031.0);
    EXPECT_EQ(val("  1033xyz"), 1033.0);
    EXPECT_EQ(val("1252 (Western)"), 1252.0);
    EXPECT_EQ(val("-3.5e1"), -35.0);
    EXPECT_EQ(val("abc"), 0.0);
    EXPECT_EQ(val(""), 0.0);
    EXPECT_EQ(val("&H40C"), 1036.0);
    EXPECT_EQ(val("1e99999"), 0.0);
}

TEST(Variant, EqualityComparesKindAndValue) {
    EXPECT_EQ(Variant::integer(1), Variant::integer(1));
    EXPECT_NE(Variant::integer(1), Variant::longInt(1));
    EXPECT_NE(Variant::text("a"), Variant::text("A"));
    EXPECT_EQ(Variant::integerArray({1, 2}), Variant::integerArray({1, 2}));
    EXPECT_NE(Variant::integerArray({1, 2}), Variant::integerArray({1, 3}));
    EXPECT_EQ(Variant::null(), Variant::null());
    EXPECT_NE(Variant::null(), Variant());
}

}  // namespace
}  // namespace orvanta
