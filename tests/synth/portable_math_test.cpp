#include "synth/portable_math.h"

#include <gtest/gtest.h>

#include <cmath>

namespace pm = wtk::synth::portable;

namespace {

double RelErr(double got, double want) {
    return std::fabs(got - want) / std::fabs(want);
}

TEST(PortableMath, ExpAgreesWithTheLibraryOverItsRange) {
    // Results below 2^-1022 (subnormal) lose bits in the final scaling, as they must.
    for (double x = -708; x <= 705; x += 0.37)
        EXPECT_LT(RelErr(pm::Exp(x), std::exp(x)), 1e-15) << x;
    for (double x = -1; x <= 1; x += 1.0 / 1024)
        EXPECT_LT(RelErr(pm::Exp(x), std::exp(x)), 1e-15) << x;
    EXPECT_EQ(pm::Exp(0.0), 1.0);
    EXPECT_EQ(pm::Exp(-800.0), 0.0);
    EXPECT_TRUE(std::isinf(pm::Exp(710.0)));
}

TEST(PortableMath, LogAgreesWithTheLibraryFromTinyToHuge) {
    for (double x = 1e-310; x < 1e300; x *= 1.7) {
        const double want = std::log(x);
        EXPECT_LT(std::fabs(pm::Log(x) - want), 1e-15 * std::fmax(1.0, std::fabs(want))) << x;
    }
    // Near 1 the result is small: compare relative to it.
    for (double x = 0.5; x < 2.0; x += 1.0 / 4096) {
        if (x == 1.0) continue;
        EXPECT_LT(RelErr(pm::Log(x), std::log(x)), 1e-15) << x;
    }
    EXPECT_EQ(pm::Log(1.0), 0.0);
    // The smallest uniform draw of the noise generator.
    EXPECT_LT(RelErr(pm::Log(0x1p-53), -53 * std::log(2.0)), 4e-16);
}

TEST(PortableMath, SinCosInTurnsAgreeWithTheLibraryInEveryQuadrant) {
    for (double t = -30; t <= 30; t += 0.0013) {
        const pm::SinCos sc = pm::SinCosTurns(t);
        // Reduced exactly to one turn first: the angle 2 pi t itself would carry an error.
        const double a = 2 * M_PI * (t - std::nearbyint(t));
        EXPECT_NEAR(sc.Sin, std::sin(a), 1e-15) << t;
        EXPECT_NEAR(sc.Cos, std::cos(a), 1e-15) << t;
    }
    for (double t = 0; t < 1; t += 1.0 / 4096) {
        const pm::SinCos sc = pm::SinCosTurns(t);
        EXPECT_NEAR(sc.Sin * sc.Sin + sc.Cos * sc.Cos, 1.0, 1e-15) << t;
    }
    EXPECT_EQ(pm::SinCosTurns(0.25).Sin, 1.0);
    EXPECT_EQ(pm::SinCosTurns(0.5).Cos, -1.0);
    EXPECT_EQ(pm::SinCosTurns(-0.25).Sin, -1.0);
    EXPECT_EQ(pm::SinCosTurns(7.0).Cos, 1.0);
}

TEST(PortableMath, ArcTangentInTurnsAgreesWithTheLibrary) {
    for (double m = 1e-6; m < 1e6; m *= 1.013) {
        for (const double x : {m, -m})
            EXPECT_NEAR(pm::AtanTurns(x), std::atan(x) / (2 * M_PI), 2e-16) << x;
    }
    for (double x = -3; x <= 3; x += 1.0 / 512)
        EXPECT_NEAR(pm::AtanTurns(x), std::atan(x) / (2 * M_PI), 2e-16) << x;
    EXPECT_EQ(pm::AtanTurns(0.0), 0.0);
    EXPECT_NEAR(pm::AtanTurns(1.0), 0.125, 1e-16);
    EXPECT_NEAR(pm::AtanTurns(-1e300), -0.25, 1e-16);
}

}  // namespace

namespace {

TEST(PortableMath, RoundToIntIsTiesToEvenEverywhere) {
    for (double x : {0.5, 1.5, 2.5, -0.5, -1.5, -2.5, 0.49999999999999994, 32767.5, -32768.5,
                     1e15 + 0.5, 0x1p51 - 0.5, 0x1p51 + 1, -0x1p51 - 1, 0x1p52 + 1, 1e300, -0.0}) {
        EXPECT_EQ(pm::RoundToInt(x), std::nearbyint(x)) << x;
    }
    for (double x = -40000; x < 40000; x += 0.0625)
        ASSERT_EQ(pm::RoundToInt(x), std::nearbyint(x)) << x;
}

}  // namespace
