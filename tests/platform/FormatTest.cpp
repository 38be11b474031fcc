#include "platform/Format.h"
#include "platform/Exceptions.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>

#include "tests/support/TestSupport.h"

using namespace ie;

namespace {

std::string ConvertMessage(const std::function<void()>& f) {
    return test::MessageOf<EConvertError>(f, "<no EConvertError>");
}

} // namespace

TEST(FormatTest, PlainTextAndPercent) {
    EXPECT_EQ(Format("abc"), "abc");
    EXPECT_EQ(Format(""), "");
    EXPECT_EQ(Format("100%%"), "100%");
    EXPECT_EQ(Format("%%d"), "%d");
    EXPECT_EQ(Format("a%sb%sc", "X", std::string("Y")), "aXbYc");
}

TEST(FormatTest, ArgumentTextIsNeverReadAsDirective) {
    EXPECT_EQ(Format("%s-%d", "%d%s", 7), "%d%s-7");
}

TEST(FormatTest, Integers) {
    EXPECT_EQ(Format("%d", 0), "0");
    EXPECT_EQ(Format("%d", -42), "-42");
    EXPECT_EQ(Format("%d", std::numeric_limits<int64_t>::min()), "-9223372036854775808");
    EXPECT_EQ(Format("%d", 18446744073709551615ull), "18446744073709551615");
    EXPECT_EQ(Format("%.4d", 42), "0042");
    EXPECT_EQ(Format("%.4d", -42), "-0042");
    EXPECT_EQ(Format("%.1d", 123), "123");
    EXPECT_EQ(Format("%5d|%-5d|", 42, 42), "   42|42   |");
    // The platform has no zero flag: "05" is a width.
    EXPECT_EQ(Format("%05d", 3), "    3");
    EXPECT_EQ(Format("%D", 9), "9");
    EXPECT_EQ(Format("%u", 42u), "42");
    EXPECT_EQ(Format("%u", -1), "4294967295");
}

TEST(FormatTest, Hexadecimal) {
    EXPECT_EQ(Format("%x", 255), "FF");
    EXPECT_EQ(Format("%X", 0xabcdef), "ABCDEF");
    EXPECT_EQ(Format("%.4x", 10), "000A");
    EXPECT_EQ(Format("%x", -1), "FFFFFFFF");
    EXPECT_EQ(Format("%x", -4294967296LL), "FFFFFFFF00000000");
    EXPECT_EQ(Format("%p", reinterpret_cast<const void*>(0xbeef)), "0000BEEF");
}

TEST(FormatTest, FixedDefaultsToTwoDecimals) {
    EXPECT_EQ(Format("%f", 3.14159), "3.14");
    EXPECT_EQ(Format("%f", 0.0), "0.00");
    EXPECT_EQ(Format("%f", -1.5), "-1.50");
    EXPECT_EQ(Format("%.0f", 2.4), "2");
    EXPECT_EQ(Format("%.4f", 1.0), "1.0000");
    EXPECT_EQ(Format("%.4f", 0.00005), "0.0001");
    EXPECT_EQ(Format("%.4f", -0.00004), "0.0000");
    EXPECT_EQ(Format("%.3f", 1234567.0), "1234567.000");
    EXPECT_EQ(Format("%8.2f|%-8.2f|", 3.14159, 3.14159), "    3.14|3.14    |");
    EXPECT_EQ(Format("%f", 1e17), "100000000000000000.00");
    EXPECT_EQ(Format("%.2f", 99.999), "100.00");
    EXPECT_EQ(Format("%.1f", 0.96), "1.0");
    EXPECT_EQ(Format("%f", 12.5f), "12.50");
}

TEST(FormatTest, FixedRoundsHalfAwayFromZeroOnTheDecimalDigits) {
    // Exact binary ties round away from zero, not to even.
    EXPECT_EQ(Format("%.0f", 0.5), "1");
    EXPECT_EQ(Format("%.0f", 2.5), "3");
    EXPECT_EQ(Format("%.0f", -2.5), "-3");
    EXPECT_EQ(Format("%.2f", 0.125), "0.13");
    EXPECT_EQ(Format("%.2f", 0.375), "0.38");
    // 2.675 is stored as 2.67499999999999982..., so it rounds down.
    EXPECT_EQ(Format("%.2f", 2.675), "2.67");
    EXPECT_EQ(Format("%.2f", 1.005), "1.00");
}

TEST(FormatTest, NumberAndCurrency) {
    EXPECT_EQ(Format("%n", 1234567.891), "1,234,567.89");
    EXPECT_EQ(Format("%n", 123.0), "123.00");
    EXPECT_EQ(Format("%.0n", 1000.0), "1,000");
    EXPECT_EQ(Format("%.1n", -999999.96), "-1,000,000.0");
    EXPECT_EQ(Format("%n", 0.5), "0.50");
    EXPECT_EQ(Format("%m", 1234.5), "$1,234.50");
    EXPECT_EQ(Format("%m", -1234.5), "($1,234.50)");
}

TEST(FormatTest, Scientific) {
    EXPECT_EQ(Format("%e", 150.0), "1.50000000000000E+002");
    EXPECT_EQ(Format("%.3e", 150.0), "1.50E+002");
    EXPECT_EQ(Format("%.3e", -0.000123456), "-1.23E-004");
    EXPECT_EQ(Format("%.2e", 9.96), "1.0E+001");
    EXPECT_EQ(Format("%.4e", 1e300), "1.000E+300");
    EXPECT_EQ(Format("%.2e", 0.0), "0.0E+000");
}

TEST(FormatTest, General) {
    EXPECT_EQ(Format("%g", 0.1), "0.1");
    EXPECT_EQ(Format("%g", 100.0), "100");
    EXPECT_EQ(Format("%g", 1e20), "1E20");
    EXPECT_EQ(Format("%g", 0.000015), "1.5E-5");
    EXPECT_EQ(Format("%g", 0.0001), "0.0001");
    EXPECT_EQ(Format("%.3g", 1234.0), "1.23E3");
    EXPECT_EQ(Format("%.3g", 123.456), "123");
    EXPECT_EQ(Format("%g", -2.5), "-2.5");
}

TEST(FormatTest, Text) {
    EXPECT_EQ(Format("%.3s", "abcdef"), "abc");
    EXPECT_EQ(Format("%.10s", "ab"), "ab");
    EXPECT_EQ(Format("[%5s][%-5s]", "ab", "ab"), "[   ab][ab   ]");
    EXPECT_EQ(Format("[%2s]", "abcd"), "[abcd]");
    EXPECT_EQ(Format("%s", 'z'), "z");
    EXPECT_EQ(Format("%c%c", 'o', 'k'), "ok");
    EXPECT_EQ(Format("%s", static_cast<const char*>(nullptr)), "");
}

TEST(FormatTest, EveryDigitOfAWidthCounts) {
    EXPECT_EQ(Format("%1234567d", 5).size(), 1234567u);
    EXPECT_EQ(Format("%.1000001d", 5).size(), 1000001u);
    EXPECT_EQ(ConvertMessage([] { Format("%2147483648d", 5); }),
              "Format '%2147483648d' invalid or incompatible with argument");
}

TEST(FormatTest, StarAndIndex) {
    EXPECT_EQ(Format("%*d", 5, 42), "   42");
    EXPECT_EQ(Format("%-*d|", 4, 7), "7   |");
    EXPECT_EQ(Format("%.*f", 3, 2.0), "2.000");
    EXPECT_EQ(Format("%*.*f", 7, 1, 2.25), "    2.3");
    EXPECT_EQ(Format("%1:s %0:s", "a", "b"), "b a");
    // After an index the following directives continue from it.
    EXPECT_EQ(Format("%1:s %s %0:s %s", "a", "b", "c"), "b c a b");
}

TEST(FormatTest, BadDirectivesRaise) {
    const std::string expected = "Format '%d %d' invalid or incompatible with argument";
    EXPECT_EQ(ConvertMessage([] { Format("%d %d", 1); }), expected);
    EXPECT_EQ(ConvertMessage([] { Format("%d", "x"); }),
              "Format '%d' invalid or incompatible with argument");
    EXPECT_EQ(ConvertMessage([] { Format("%f", 1); }),
              "Format '%f' invalid or incompatible with argument");
    EXPECT_EQ(ConvertMessage([] { Format("%s", 2.0); }),
              "Format '%s' invalid or incompatible with argument");
    EXPECT_EQ(ConvertMessage([] { Format("abc%"); }),
              "Format 'abc%' invalid or incompatible with argument");
    EXPECT_EQ(ConvertMessage([] { Format("%k", 1); }),
              "Format '%k' invalid or incompatible with argument");
    EXPECT_EQ(ConvertMessage([] { Format("%*d", "w", 1); }),
              "Format '%*d' invalid or incompatible with argument");
    EXPECT_EQ(ConvertMessage([] { Format("%5:d", 1); }),
              "Format '%5:d' invalid or incompatible with argument");
    // Unused arguments are not an error.
    EXPECT_EQ(Format("x", 1, 2), "x");
}

TEST(FormatTest, NonFiniteFloats) {
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(Format("%f", inf), "INF");
    EXPECT_EQ(Format("%g", -inf), "-INF");
    EXPECT_EQ(Format("%e", std::nan("")), "NAN");
    EXPECT_EQ(FloatToStr(std::nan("")), "NAN");
}

TEST(FloatToStrTest, ShortestGeneralWithFifteenDigits) {
    EXPECT_EQ(FloatToStr(0.0), "0");
    EXPECT_EQ(FloatToStr(-0.0), "0");
    EXPECT_EQ(FloatToStr(1.0), "1");
    EXPECT_EQ(FloatToStr(-3.25), "-3.25");
    EXPECT_EQ(FloatToStr(0.1), "0.1");
    EXPECT_EQ(FloatToStr(0.1 + 0.2), "0.3");
    EXPECT_EQ(FloatToStr(1.0 / 3.0), "0.333333333333333");
    EXPECT_EQ(FloatToStr(2.0 / 3.0), "0.666666666666667");
    EXPECT_EQ(FloatToStr(1e20), "1E20");
    EXPECT_EQ(FloatToStr(1e15), "1E15");
    EXPECT_EQ(FloatToStr(999999999999999.0), "999999999999999");
    EXPECT_EQ(FloatToStr(123456789012.5), "123456789012.5");
    EXPECT_EQ(FloatToStr(1.5e-5), "1.5E-5");
    EXPECT_EQ(FloatToStr(0.00012), "0.00012");
    EXPECT_EQ(FloatToStr(1e-300), "1E-300");
    EXPECT_EQ(FloatToStr(-1.25e100), "-1.25E100");
    EXPECT_EQ(FloatToStr(3.14159265358979), "3.14159265358979");
    EXPECT_EQ(FloatToStr(9.9999999999999999e14), "1E15");
}

TEST(FloatToStrTest, FloatToStrF) {
    EXPECT_EQ(FloatToStrF(1e20, TFloatFormat::ffGeneral, 15, 3), "1E020");
    EXPECT_EQ(FloatToStrF(12.5, TFloatFormat::ffExponent, 4, 2), "1.250E+01");
    EXPECT_EQ(FloatToStrF(1234.567, TFloatFormat::ffFixed, 15, 1), "1234.6");
    EXPECT_EQ(FloatToStrF(1234.567, TFloatFormat::ffNumber, 15, 0), "1,235");
}

TEST(IntToStrTest, Values) {
    EXPECT_EQ(IntToStr(0), "0");
    EXPECT_EQ(IntToStr(-17), "-17");
    EXPECT_EQ(IntToStr(std::numeric_limits<int64_t>::max()), "9223372036854775807");
}

TEST(StrToIntTest, AcceptsDecimalAndHexadecimal) {
    EXPECT_EQ(StrToInt("42"), 42);
    EXPECT_EQ(StrToInt("-42"), -42);
    EXPECT_EQ(StrToInt("+7"), 7);
    EXPECT_EQ(StrToInt("  12"), 12);
    EXPECT_EQ(StrToInt("$FF"), 255);
    EXPECT_EQ(StrToInt("0x1f"), 31);
    EXPECT_EQ(StrToInt("$FFFFFFFF"), -1);
    EXPECT_EQ(StrToInt("2147483647"), 2147483647);
    EXPECT_EQ(StrToInt("-2147483648"), -2147483647 - 1);
    EXPECT_EQ(StrToInt64("9223372036854775807"), std::numeric_limits<int64_t>::max());
    EXPECT_EQ(StrToInt64("-9223372036854775808"), std::numeric_limits<int64_t>::min());
}

TEST(StrToIntTest, RejectsWithTheConversionMessage) {
    EXPECT_EQ(ConvertMessage([] { StrToInt("abc"); }), "'abc' is not a valid integer value");
    EXPECT_EQ(ConvertMessage([] { StrToInt(""); }), "'' is not a valid integer value");
    EXPECT_EQ(ConvertMessage([] { StrToInt("12 "); }), "'12 ' is not a valid integer value");
    EXPECT_EQ(ConvertMessage([] { StrToInt("1.5"); }), "'1.5' is not a valid integer value");
    EXPECT_EQ(ConvertMessage([] { StrToInt("-"); }), "'-' is not a valid integer value");
    EXPECT_EQ(ConvertMessage([] { StrToInt("2147483648"); }),
              "'2147483648' is not a valid integer value");
    EXPECT_EQ(ConvertMessage([] { StrToInt64("9223372036854775808"); }),
              "'9223372036854775808' is not a valid integer value");
    int64_t v = 5;
    EXPECT_FALSE(TryStrToInt64("x1", v));
    EXPECT_EQ(v, 5);
    int32_t w = 0;
    EXPECT_TRUE(TryStrToInt("-9", w));
    EXPECT_EQ(w, -9);
}

TEST(StrToFloatTest, AcceptsDecimalForms) {
    EXPECT_DOUBLE_EQ(StrToFloat("1.5"), 1.5);
    EXPECT_DOUBLE_EQ(StrToFloat("-2"), -2.0);
    EXPECT_DOUBLE_EQ(StrToFloat("+.5"), 0.5);
    EXPECT_DOUBLE_EQ(StrToFloat("5."), 5.0);
    EXPECT_DOUBLE_EQ(StrToFloat(" 1E3 "), 1000.0);
    EXPECT_DOUBLE_EQ(StrToFloat("2.5e-3"), 0.0025);
    EXPECT_EQ(StrToFloat("1e-400"), 0.0);
    EXPECT_EQ(StrToFloat("0.1"), 0.1);
}

TEST(StrToFloatTest, RejectsWithTheConversionMessage) {
    EXPECT_EQ(ConvertMessage([] { StrToFloat("abc"); }),
              "'abc' is not a valid floating point value");
    for (const char* bad : {"", ".", "1e", "1,5", "inf", "nan", "0x10", "1e400", "--1", "1.2.3"}) {
        double v = 7;
        EXPECT_FALSE(TryStrToFloat(bad, v)) << bad;
        EXPECT_EQ(v, 7);
    }
}
