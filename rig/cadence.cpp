#include "rig/cadence.h"
#include "rig/quantiles.h"

#include <cmath>
#include <utility>

namespace rig {

Cadence Cadence::of(const QList<UdpReceiver::Datagram>& arrivals, double periodMs, int size)
{
    Cadence c;
    c.datagrams = int(arrivals.size());
    const bool enough = arrivals.size() >= 3; // for the figures of the gaps
    const double t0 = arrivals.isEmpty() ? 0 : double(arrivals.front().kernelNs);
    std::vector<double> delays, devs;
    // Each datagram's slot on the nominal clock: a missed exchange skips
    // slots, a doubled one shares its slot; the slope of time over slots is
    // the true period, whatever was lost.
    double slot = 0, sumK = 0, sumT = 0, sumKK = 0, sumKT = 0;
    for (int i = 0; i < arrivals.size(); ++i) {
        const UdpReceiver::Datagram& a = arrivals[i];
        c.stamped += a.stamped;
        c.wrongSize += a.bytes.size() != size;
        delays.push_back((a.readNs - a.kernelNs) / 1e6);
        const double t = (double(a.kernelNs) - t0) / 1e6;
        if (i > 0) {
            const double gap = double(a.kernelNs - arrivals[i - 1].kernelNs) / 1e6;
            c.gapsMs.push_back(gap);
            devs.push_back(std::fabs(gap - periodMs));
            c.missed += enough && gap > 1.5 * periodMs;
            c.doubled += enough && gap < 0.5 * periodMs;
            slot += std::round(gap / periodMs);
        }
        sumK += slot;
        sumT += t;
        sumKK += slot * slot;
        sumKT += slot * t;
    }
    const Quantiles delay = Quantiles::of(std::move(delays));
    c.readDelayP50Ms = delay.p50;
    c.readDelayP99Ms = delay.p99;
    if (!enough)
        return c;
    const double n = double(arrivals.size());
    const double spanS = (double(arrivals.back().kernelNs) - t0) / 1e9;
    c.meanMs = spanS * 1000.0 / (n - 1);
    const Quantiles dev = Quantiles::of(std::move(devs));
    c.p99DevMs = dev.p99;
    c.maxDevMs = dev.max;
    const double var = sumKK - sumK * sumK / n;
    if (var > 0) {
        const double slope = (sumKT - sumK * sumT / n) / var;
        c.driftMsPerMin = (slope - periodMs) / periodMs * 60000.0;
    }
    return c;
}

} // namespace rig
