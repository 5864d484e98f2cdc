#include "engine/sensitivity.h"

#include <algorithm>

#include "engine/numbers.h"
#include "settings/detector_settings.h"

namespace wtk {

void Sensitivity::ReviseFilterScale() {
    const double scaler = CurrentAmpScaler;
    for (size_t i = 0; i < Coeff.size(); ++i) {
        Coeff[i] = static_cast<float>(kKernel[i] * scaler);
    }
    MinuteScalerX2560 = static_cast<int32_t>(std::min<int64_t>(RoundHalfEven(scaler * 2560.0), 255));
}

}  // namespace wtk
