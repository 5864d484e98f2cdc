// Draws from std::mt19937_64 that give the same values on every machine: the standard fixes
// the generator's sequence but not its distributions, so uniform and normal values are made
// here from its bits, through our own logarithm and sine.
#pragma once

#include <cmath>
#include <cstdint>
#include <random>
#include <utility>

#include "synth/portable_math.h"

namespace wtk::synth {

// A uniform value in [0, 1) from the top 53 bits of one draw.
inline double Uniform01(std::mt19937_64& g) {
    return static_cast<double>(g() >> 11) * 0x1p-53;
}

inline double Uniform(std::mt19937_64& g, double lo, double hi) {
    return lo + (hi - lo) * Uniform01(g);
}

// Two independent standard normal values (Box-Muller) from one 64-bit draw split into two
// 32-bit uniforms; the largest value is sqrt(64 ln 2) = 6.7 standard deviations.
inline std::pair<double, double> GaussianPair(std::mt19937_64& g) {
    const uint64_t x = g();
    const double u1 = static_cast<double>((x >> 32) + 1) * 0x1p-32;      // (0, 1]
    const double u2 = static_cast<double>(x & 0xFFFFFFFFULL) * 0x1p-32;  // [0, 1)
    const double r = std::sqrt(-2.0 * portable::Log(u1));
    const portable::SinCos sc = portable::SinCosTurns(u2);
    return {r * sc.Cos, r * sc.Sin};
}

// A value whose logarithm is uniform in [ln lo, ln hi) (lo, hi > 0).
inline double LogUniform(std::mt19937_64& g, double lo, double hi) {
    return portable::Exp(Uniform(g, portable::Log(lo), portable::Log(hi)));
}

// One standard normal value (the first of a pair).
inline double Normal(std::mt19937_64& g) {
    return GaussianPair(g).first;
}

}  // namespace wtk::synth
