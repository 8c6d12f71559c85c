#ifndef RIG_CADENCE_H
#define RIG_CADENCE_H

#include "rig/udpreceiver.h"

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

    static Cadence of(const QList<UdpReceiver::Datagram>& arrivals, double periodMs, int size);
};

} // namespace rig

#endif
