#ifndef RIG_QUANTILES_H
#define RIG_QUANTILES_H

// How a set of samples (delays, gaps) spreads: its median, 99th percentile
// and maximum.

#include <algorithm>
#include <cmath>
#include <vector>

namespace rig {

struct Quantiles {
    int n = 0;
    double p50 = 0, p99 = 0, max = 0; // 0 when there are no samples

    // Nearest-rank percentiles, one sort for all three.
    static Quantiles of(std::vector<double> values)
    {
        std::sort(values.begin(), values.end());
        const double size = double(values.size());
        const auto at = [&](double p) {
            return values.empty() ? 0 : values[size_t(std::clamp(std::ceil(p / 100.0 * size), 1.0, size)) - 1];
        };
        return {int(values.size()), at(50), at(99), at(100)};
    }
};

} // namespace rig

#endif
