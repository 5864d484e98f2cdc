// Exponential, logarithm, sine and cosine built from +, -, *, / and exact scaling only, so that
// generated recordings come out bit for bit the same with every compiler and maths library
// (the library functions may differ in the last bit between platforms). Accurate to a few units
// in the last place over the ranges the generator uses.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>

namespace wtk::synth::portable {

inline constexpr double kLn2Hi = 6.93147180369123816490e-01;  // ln 2, upper 32 bits
inline constexpr double kLn2Lo = 1.90821492927058770002e-10;  // ln 2 minus kLn2Hi
inline constexpr double kInvLn2 = 1.44269504088896338700e+00;
inline constexpr double kTwoPi = 6.28318530717958647692;

// Nearest integer, ties to even (as std::nearbyint in the default rounding mode, which
// RoundHalfEven uses too), without a library call: adding and removing 1.5 x 2^52 leaves no
// fraction bits, so the addition itself rounds. Exact for every double.
inline double RoundToInt(double x) {
    constexpr double kShift = 0x1.8p52;
    if (!(std::fabs(x) < 0x1p51)) return std::nearbyint(x);  // already whole, or NaN
    return (x + kShift) - kShift;
}

// e^x for any finite x; 0 below -745, infinity above 709.8.
inline double Exp(double x) {
    if (x < -745.2) return 0.0;
    if (x > 709.78) return HUGE_VAL;
    // x = k ln2 + r with |r| <= ln2 / 2; e^r by its Taylor series, then scaled by 2^k exactly.
    const double k = RoundToInt(x * kInvLn2);
    const double r = (x - k * kLn2Hi) - k * kLn2Lo;
    double p = 1.0 / 1307674368000.0;  // 1/15!
    constexpr double kInvFact[15] = {1.0 / 87178291200.0,
                                     1.0 / 6227020800.0,
                                     1.0 / 479001600.0,
                                     1.0 / 39916800.0,
                                     1.0 / 3628800.0,
                                     1.0 / 362880.0,
                                     1.0 / 40320.0,
                                     1.0 / 5040.0,
                                     1.0 / 720.0,
                                     1.0 / 120.0,
                                     1.0 / 24.0,
                                     1.0 / 6.0,
                                     0.5,
                                     1.0,
                                     1.0};
    for (double c : kInvFact) p = p * r + c;
    return std::ldexp(p, static_cast<int>(k));
}

// Natural logarithm of a positive finite x by its series alone (builds the table of Log).
inline double LogSeries(double x) {
    // x = m 2^e, m in [0.5, 1): read from the bits for normal numbers (as std::frexp does).
    int e = 0;
    double m;
    const uint64_t bits = std::bit_cast<uint64_t>(x);
    const int biased = static_cast<int>((bits >> 52) & 0x7FF);
    if (biased != 0 && biased != 0x7FF) {
        e = biased - 1022;
        m = std::bit_cast<double>((bits & 0x800FFFFFFFFFFFFFULL) | (uint64_t{1022} << 52));
    } else {
        m = std::frexp(x, &e);
    }
    if (m < 0.70710678118654752440) {
        m *= 2.0;
        --e;
    }
    // m in [0.707, 1.414): ln m = 2 atanh(s) = 2 (s + s^3/3 + s^5/5 + ...), |s| <= 0.1716.
    const double s = (m - 1.0) / (m + 1.0);
    const double z = s * s;
    constexpr double kInvOdd[12] = {1.0 / 23, 1.0 / 21, 1.0 / 19, 1.0 / 17, 1.0 / 15, 1.0 / 13,
                                    1.0 / 11, 1.0 / 9,  1.0 / 7,  1.0 / 5,  1.0 / 3,  1.0};
    double p = 1.0 / 25;
    for (double c : kInvOdd) p = p * z + c;
    const double lnm = 2.0 * s * p;
    const double de = static_cast<double>(e);
    return de * kLn2Hi + (de * kLn2Lo + lnm);
}

// sin and cos of 2 pi t, with the angle given in turns (t = 1 is a full circle). Reducing in
// turns keeps the argument exact for any whole number of periods.
struct SinCos {
    double Sin;
    double Cos;
};

// By the series alone (builds the table of SinCosTurns).
inline SinCos SinCosTurnsSeries(double t) {
    const double r = t - RoundToInt(t);        // [-0.5, 0.5]
    const double q = RoundToInt(4.0 * r);      // quadrant -2 ... 2
    const double a = (r - 0.25 * q) * kTwoPi;  // [-pi/4, pi/4]
    const double z = a * a;
    // Taylor series up to a^17 and a^18.
    double s = 1.0 / 355687428096000.0;    // 1/17!
    double c = -1.0 / 6402373705728000.0;  // -1/18!
    constexpr double kSinCoef[8] = {
        -1.0 / 1307674368000.0, 1.0 / 6227020800.0, -1.0 / 39916800.0, 1.0 / 362880.0,
        -1.0 / 5040.0,          1.0 / 120.0,        -1.0 / 6.0,        1.0};
    constexpr double kCosCoef[9] = {1.0 / 20922789888000.0,
                                    -1.0 / 87178291200.0,
                                    1.0 / 479001600.0,
                                    -1.0 / 3628800.0,
                                    1.0 / 40320.0,
                                    -1.0 / 720.0,
                                    1.0 / 24.0,
                                    -0.5,
                                    1.0};
    for (double k : kSinCoef) s = s * z + k;
    for (double k : kCosCoef) c = c * z + k;
    s *= a;
    switch (static_cast<int>(q)) {
        case 1:
            return {c, -s};
        case -1:
            return {-c, s};
        case 2:
        case -2:
            return {-s, -c};
        default:
            return {s, c};
    }
}

// The faster forms below start from a table point near the argument, so that a few terms of
// the series suffice. The tables are built once with the series forms.
struct Tables {
    static constexpr int kLogSteps = 64;    // ln(i / 64) for i = 48 ... 96 (0.75 ... 1.5)
    static constexpr int kTurnSteps = 256;  // sin, cos of 2 pi j / 256 for j = -128 ... 128
    double Ln[97];
    double Sin[kTurnSteps + 1];
    double Cos[kTurnSteps + 1];
    Tables() {
        for (int i = 0; i < 97; ++i) Ln[i] = i < 48 ? 0.0 : LogSeries(i / double(kLogSteps));
        for (int j = 0; j <= kTurnSteps; ++j) {
            const SinCos sc = SinCosTurnsSeries((j - kTurnSteps / 2) / double(kTurnSteps));
            Sin[j] = sc.Sin;
            Cos[j] = sc.Cos;
        }
    }
};

inline const Tables& GetTables() {
    static const Tables tables;
    return tables;
}

// Natural logarithm of a positive finite x.
inline double Log(double x) {
    const uint64_t bits = std::bit_cast<uint64_t>(x);
    const int biased = static_cast<int>((bits >> 52) & 0x7FF);
    if (biased == 0 || biased == 0x7FF) return LogSeries(x);  // subnormal, zero, inf, NaN
    // x = m 2^e with m in [0.75, 1.5)
    int e = biased - 1023;
    double m = std::bit_cast<double>((bits & 0x800FFFFFFFFFFFFFULL) | (uint64_t{1023} << 52));
    if (m >= 1.5) {
        m *= 0.5;
        ++e;
    }
    // m = c (1 + ...), c = i / 64 the nearest table point: ln m = ln c + 2 atanh(s),
    // s = (m - c) / (m + c), |s| <= 1/192. ln 1 is exactly 0, so results near 0 keep their
    // relative accuracy.
    const double i = RoundToInt(m * Tables::kLogSteps);
    const double c = i * (1.0 / Tables::kLogSteps);
    const double s = (m - c) / (m + c);
    const double z = s * s;
    const double p = (((z * (1.0 / 9) + 1.0 / 7) * z + 1.0 / 5) * z + 1.0 / 3) * z + 1.0;
    const double lnm = GetTables().Ln[static_cast<int>(i)] + 2.0 * s * p;
    const double de = static_cast<double>(e);
    return de * kLn2Hi + (de * kLn2Lo + lnm);
}

inline SinCos SinCosTurns(double t) {
    const double r = t - RoundToInt(t);  // [-0.5, 0.5]
    const double j = RoundToInt(r * Tables::kTurnSteps);
    const double a = (r - j * (1.0 / Tables::kTurnSteps)) * kTwoPi;  // |a| <= pi / 256
    const double z = a * a;
    const double sa = ((z * (-1.0 / 5040) + 1.0 / 120) * z - 1.0 / 6) * z * a + a;
    const double ca = (((z * (1.0 / 40320) - 1.0 / 720) * z + 1.0 / 24) * z - 0.5) * z + 1.0;
    const Tables& tb = GetTables();
    const int k = static_cast<int>(j) + Tables::kTurnSteps / 2;
    return {tb.Sin[k] * ca + tb.Cos[k] * sa, tb.Cos[k] * ca - tb.Sin[k] * sa};
}

// The arc tangent in turns (-0.25 ... 0.25) of any finite x: reduced to |x| <= 1 by
// atan x = pi/2 - atan(1/x), then to |x| <= tan(pi/12) by atan x = pi/6 + atan((x sqrt3 - 1) /
// (x + sqrt3)), where its series converges fast.
inline double AtanTurns(double x) {
    constexpr double kSqrt3 = 1.7320508075688772935;
    constexpr double kTanTwelfth = 0.26794919243112270647;  // tan(pi / 12)
    const bool negative = x < 0;
    double a = std::fabs(x);
    const bool inverted = a > 1;
    if (inverted) a = 1 / a;
    const bool shifted = a > kTanTwelfth;
    if (shifted) a = (a * kSqrt3 - 1) / (a + kSqrt3);
    const double z = a * a;
    double p = 0;
    for (int k = 12; k >= 0; --k) p = p * z + (k % 2 == 0 ? 1.0 : -1.0) / (2 * k + 1);
    double turns = a * p / kTwoPi;
    if (shifted) turns += 1.0 / 12;
    if (inverted) turns = 0.25 - turns;
    return negative ? -turns : turns;
}

}  // namespace wtk::synth::portable
