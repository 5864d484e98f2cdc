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

}  // namespace wtk::presence
