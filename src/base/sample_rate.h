// Sample-rate tables: the engine's time units follow from the typed rate.
//   tick       = 1 / (4 x SamplesPerSec) s, one band-pass output value
//   half tick  = 1 / (8 x SamplesPerSec) s
//   IPIscaler  = 500 / (k samples/s) as float32: half ticks -> 250 ns, ticks -> 500 ns
// Every derived value comes from the float32 IPIscaler, not from the exact fraction.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace wtk {

struct SampleRate {
    static constexpr int32_t kMinKsps = 1;  // valid rate text: a whole number 1 ... 2000
    static constexpr int32_t kMaxKsps = 2000;

    bool Valid = false;  // the last rate text was valid
    int32_t SamplesPerSec = 0;
    int32_t SamplesPerMin = 0;  // one block is this many samples
    float IPIscaler = 0;
    int32_t SampleTimeNear2MHzPerMin = 0;  // tick count after which the current minute closes
    int32_t IPI255Equivalent = 0;          // half ticks of 255 x 250 ns: the cap on an interval
    std::vector<uint8_t> RescaleTo250ns;   // half ticks -> 250 ns, saturating at 255;
                                           // max(501, IPI255Equivalent + 1) entries

    // Handler of the sample-rate edit. Valid text recomputes every table and returns true;
    // invalid text marks the rate invalid, leaves the tables as they are and returns false.
    bool KsamplesPerSecEditChange(std::string_view text);

    // Ticks in a whole minute, Round(120000000 / IPIscaler): the length used for file starts.
    int32_t TicksPerMinute() const;
};

}  // namespace wtk
