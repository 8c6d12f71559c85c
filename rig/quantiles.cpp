#include "rig/quantiles.h"

#include <algorithm>
#include <cmath>

namespace rig {

double Quantiles::percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const double rank = std::ceil(p / 100.0 * double(values.size()));
    const size_t at = size_t(std::clamp(rank, 1.0, double(values.size()))) - 1;
    return values[at];
}

} // namespace rig
