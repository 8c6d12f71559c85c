#ifndef RIG_QUANTILES_H
#define RIG_QUANTILES_H

// How a set of samples (delays, gaps) spreads: its median, 99th percentile
// and maximum.

#include <vector>

namespace rig {

struct Quantiles {
    int n = 0;
    double p50 = 0, p99 = 0, max = 0; // 0 when there are no samples

    // Nearest-rank percentiles, one sort for all three.
    static Quantiles of(std::vector<double> values);
};

} // namespace rig

#endif
