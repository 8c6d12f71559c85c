#ifndef RIG_CADENCE_H
#define RIG_CADENCE_H

#include "rig/quantiles.h"
#include "rig/udpreceiver.h"

#include <cmath>
#include <utility>
#include <vector>

namespace rig {

// How evenly a stream of periodic datagrams came, from their kernel stamps.
struct Cadence {
    int datagrams = 0;
    std::vector<double> gapsMs; // between one datagram and the next
    int stamped = 0;   // with a kernel stamp
    int wrongSize = 0; // not of the expected size
    double meanMs = 0;      // mean gap between datagrams
    double p99DevMs = 0;    // 99th percentile of |gap - period|
    double maxDevMs = 0;
    int missed = 0;         // gaps longer than 1.5 periods
    int doubled = 0;        // gaps shorter than half a period
    double driftMsPerMin = 0; // how far the stream falls behind the nominal clock
    // How long after the kernel's stamp the bench read each datagram: what
    // the stamps keep out of the figures above.
    double readDelayP50Ms = 0;
    double readDelayP99Ms = 0;

    static Cadence of(const QList<UdpReceiver::Datagram>& arrivals, double periodMs, int size)
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
};

} // namespace rig

#endif
