#include "rig/quantiles.h"

#include <algorithm>
#include <cmath>

namespace rig {

Quantiles Quantiles::of(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return {int(values.size()), ofSorted(values, 50), ofSorted(values, 99), ofSorted(values, 100)};
}

double Quantiles::percentile(std::vector<double> values, double p)
{
    std::sort(values.begin(), values.end());
    return ofSorted(values, p);
}

double Quantiles::ofSorted(const std::vector<double>& sorted, double p)
{
    if (sorted.empty())
        return 0;
    const double rank = std::ceil(p / 100.0 * double(sorted.size()));
    const size_t at = size_t(std::clamp(rank, 1.0, double(sorted.size()))) - 1;
    return sorted[at];
}

} // namespace rig
