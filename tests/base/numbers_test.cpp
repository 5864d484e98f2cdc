#include "base/numbers.h"

#include <gtest/gtest.h>

namespace wtk {
namespace {

TEST(Numbers, RoundHalfEvenTiesGoToEven) {
    EXPECT_EQ(RoundHalfEven(0.5), 0);
    EXPECT_EQ(RoundHalfEven(1.5), 2);
    EXPECT_EQ(RoundHalfEven(2.5), 2);
    EXPECT_EQ(RoundHalfEven(-2.5), -2);
    EXPECT_EQ(RoundHalfEven(-14.08), -14);
}

TEST(Numbers, IntegerTextIsSignAndDigitsWithin32Bits) {
    EXPECT_EQ(ParseInt32("576"), 576);
    EXPECT_EQ(ParseInt32("+7"), 7);
    EXPECT_EQ(ParseInt32("-2147483648"), INT32_MIN);
    EXPECT_EQ(ParseInt32("2147483647"), INT32_MAX);
    for (const char* bad : {"", "+", "-", "2147483648", "4294967295", " 5", "5 ", "1e3", "0x10",
                            "12a", "3.0", "Logger ID number"}) {
        EXPECT_FALSE(ParseInt32(bad).has_value()) << bad;
    }
}

TEST(Numbers, RealTextIsDecimalWithOptionalExponentRoundedToFloat) {
    EXPECT_EQ(ParseFloat32("0.001"), 0.001f);
    EXPECT_EQ(ParseFloat32("-.5"), -0.5f);
    EXPECT_EQ(ParseFloat32("+5."), 5.0f);
    EXPECT_EQ(ParseFloat32("5e-5"), 0.00005f);
    EXPECT_EQ(ParseFloat32("2E+2"), 200.0f);
    for (const char* bad :
         {"", ".", "1.2.3", "0,001", "inf", "nan", "0x1p3", "1e", "e5", " 1", "1 ", "1e400"}) {
        EXPECT_FALSE(ParseFloat32(bad).has_value()) << bad;
    }
}

TEST(Numbers, ScalerShowsFiveDecimalsRoundedOnce) {
    EXPECT_EQ(FormatScaler(0.001f), "0.00100");
    EXPECT_EQ(FormatScaler(0.0007f), "0.00070");
    EXPECT_EQ(FormatScaler(0.00049f), "0.00049");
    EXPECT_EQ(FormatScaler(0.005f), "0.00500");
    EXPECT_EQ(FormatScaler(0.00005f), "0.00005");
    EXPECT_EQ(FormatScaler(12.345678f), "12.34600");  // five significant digits from 1 up
    EXPECT_EQ(FormatScaler(1.0f), "1.00000");
}

TEST(Numbers, ZeroPaddingCountsDigitsAfterTheSign) {
    std::string s;
    AppendZeroPadded(s, 7, 2);
    AppendZeroPadded(s, -7, 3);
    AppendZeroPadded(s, 12345, 2);
    AppendZeroPadded(s, 0, 1);
    AppendZeroPadded(s, INT64_MIN, 1);
    EXPECT_EQ(s, "07-007123450-9223372036854775808");
}

}  // namespace
}  // namespace wtk
