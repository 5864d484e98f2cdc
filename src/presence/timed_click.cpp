#include "presence/timed_click.h"

namespace wtk::presence {

double ClickKhz(const tk1::Click& c) {
    const bool pre = c.IPIpreMax > 0 && c.IPIpreMax < 255;
    const bool post = c.IPIPostMax > 0 && c.IPIPostMax < 255;
    if (pre && post) return 8000.0 / (c.IPIpreMax + c.IPIPostMax);
    if (pre) return 4000.0 / c.IPIpreMax;
    if (post) return 4000.0 / c.IPIPostMax;
    return 0;
}

int32_t LinearAmplitude(uint8_t code) {
    // The inverse of the compression's steps: 1, 4, 8, 32 and 128 values per code.
    if (code < 128) return code;
    if (code < 192) return 128 + (code - 128) * 4;
    if (code < 224) return 256 + (code - 192) * 8;
    if (code < 248) return 512 + (code - 224) * 32;
    return 1024 + (code - 248) * 128;
}

}  // namespace wtk::presence
