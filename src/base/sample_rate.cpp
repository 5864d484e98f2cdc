#include "base/sample_rate.h"

#include <algorithm>

#include "base/numbers.h"

namespace wtk {

bool SampleRate::KsamplesPerSecEditChange(std::string_view text) {
    const auto k = ParseInt32(text);
    if (!k || *k < kMinKsps || *k > kMaxKsps) {
        Valid = false;
        return false;
    }
    Valid = true;
    SamplesPerSec = *k * 1000;
    SamplesPerMin = SamplesPerSec * 60;
    IPIscaler = static_cast<float>(500.0 / *k);
    const double scaler = IPIscaler;
    SampleTimeNear2MHzPerMin = static_cast<int32_t>(RoundHalfEven(120000000.0 / scaler) - 500);
    IPI255Equivalent = static_cast<int32_t>(RoundHalfEven(255.0 / scaler));
    RescaleTo250ns.assign(std::max<size_t>(501, static_cast<size_t>(IPI255Equivalent) + 1), 0);
    for (size_t i = 0; i < RescaleTo250ns.size(); ++i) {
        const int64_t v = RoundHalfEven(static_cast<double>(i) * scaler);
        RescaleTo250ns[i] = static_cast<uint8_t>(std::min<int64_t>(v, 255));
    }
    return true;
}

int32_t SampleRate::TickOfSecond(int32_t s) const {
    return TickOfMicrosecond(int64_t{s} * 1'000'000);
}

int32_t SampleRate::TickOfMicrosecond(int64_t us) const {
    if (IPIscaler <= 0) return 0;
    // (At a whole second s, us x 2.0 is s x 2,000,000.0 exactly.)
    return static_cast<int32_t>(
        RoundHalfEven(static_cast<double>(us) * 2.0 / static_cast<double>(IPIscaler)));
}

int64_t SampleRate::FirstBlockSamples(int32_t startSecond) const {
    return FirstBlockSamplesAt(int64_t{startSecond} * 1'000'000);
}

int64_t SampleRate::FirstBlockSamplesAt(int64_t us) const {
    const int64_t perMin = SamplesPerMin;
    const int64_t samples = (60'000'000 - us) * perMin / 60'000'000;
    return std::min(samples > 0 ? samples : perMin / 120, perMin);
}

int32_t SampleRate::TicksPerMinute() const {
    return static_cast<int32_t>(RoundHalfEven(120000000.0 / static_cast<double>(IPIscaler)));
}

}  // namespace wtk
