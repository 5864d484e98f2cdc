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
    // The tick at which second s (0..59) of a minute starts, Round(s x 2000000 / IPIscaler);
    // 0 without a rate.
    int32_t TickOfSecond(int32_t s) const;
    // Likewise of microsecond us (0 ... 59,999,999) of a minute, Round(us x 2 / IPIscaler): at
    // a whole second, TickOfSecond's tick.
    int32_t TickOfMicrosecond(int64_t us) const;

    // How the engine cuts a file into blocks and closes minutes, for those who foresee it.
    // A file is read in blocks of samples: the first from its start second s (0..59) to the end
    // of its minute, (60 - s) / 60 of a minute's samples but at least half a second's, then
    // whole minutes.
    int64_t FirstBlockSamples(int32_t startSecond) const;
    // Likewise from microsecond us of its minute (0 ... 59,999,999): (60 s - us) of samples,
    // rounded down; at a whole second, FirstBlockSamples's count.
    int64_t FirstBlockSamplesAt(int64_t us) const;
    // A block's ticks count from startTick (the first block's: the tick of its start second,
    // else 0), 4 for each position; its minute closes after the position that brings the count
    // past SampleTimeNear2MHzPerMin, or after the first one when the count is past it already.
    // The positions up to that close.
    int64_t PositionsToMinuteEnd(int64_t startTick) const {
        const int64_t ticks = SampleTimeNear2MHzPerMin;
        return startTick <= ticks ? (ticks - startTick) / 4 + 1 : 1;
    }
};

}  // namespace wtk
