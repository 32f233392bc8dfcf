#include "common/VolumeLaw.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace velmora {

double VolumeFactor(int percent) {
    const double fraction = std::clamp(percent, 0, 100) / 100.0;
    return fraction * fraction * fraction;
}

double VolumeDecibels(int percent) {
    const double factor = VolumeFactor(percent);
    return factor > 0 ? 20 * std::log10(factor) : -std::numeric_limits<double>::infinity();
}

int VolumeFromLinearPercent(int linearPercent) {
    const double factor = std::clamp(linearPercent, 0, 100) / 100.0;
    return static_cast<int>(std::lround(100 * std::cbrt(factor)));
}

}  // namespace velmora
