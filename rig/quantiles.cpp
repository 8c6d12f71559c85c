#include "rig/quantiles.h"

#include <algorithm>
#include <cmath>

namespace rig {

Quantiles Quantiles::of(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const double n = double(values.size());
    const auto at = [&](double p) {
        return values.empty() ? 0 : values[size_t(std::clamp(std::ceil(p / 100.0 * n), 1.0, n)) - 1];
    };
    return {int(values.size()), at(50), at(99), at(100)};
}

} // namespace rig
