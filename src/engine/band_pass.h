// The band-pass filter in force: the sensitivity's 20 coefficients (the gain in them) as the
// kernels take them, and the threshold the values are compared with. A value is made once where
// the sensitivity changes it (a minute end, or the start of a file after the batch set it) and
// never changes after; the thread that filters ahead shares it read-only. Each value carries a
// generation, so that a piece band-passed with an older one is known and made again.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "engine/filter_kernels.h"

namespace wtk {

class BandPass {
public:
    // gen: greater than that of every value made before it by the same owner (never 0).
    BandPass(const std::array<float, 20>& coeff, int32_t threshold, uint64_t gen)
        : source_(coeff), coeffs_(MakeBandPassCoeffs(coeff)), threshold_(threshold), gen_(gen) {}

    // Whether the sensitivity's coefficients and threshold are this filter's.
    bool Matches(const std::array<float, 20>& coeff, int32_t threshold) const {
        return threshold == threshold_ && coeff == source_;
    }

    const BandPassCoeffs& Coeffs() const { return coeffs_; }
    int32_t Threshold() const { return threshold_; }
    uint64_t Gen() const { return gen_; }

private:
    std::array<float, 20> source_;
    BandPassCoeffs coeffs_;
    int32_t threshold_;
    uint64_t gen_;
};

using BandPassRef = std::shared_ptr<const BandPass>;

}  // namespace wtk
