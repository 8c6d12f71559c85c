#ifndef SHIELDDELAY_H
#define SHIELDDELAY_H

// Shield to parent: the SPI peer numbers each answer; how long after the
// peer sent it the datagram with that number reached UDP 20002 (the kernel's
// stamp), and which never did.

#include "rig/udpreceiver.h"
#include "rig/spipeer.h"

#include <QList>
#include <vector>

struct ShieldDelay {
    bool measured = false;
    int answered = 0;   // answers the peer sent in the window
    int arrived = 0;    // of those, seen at 20002
    int lost = 0;
    int outOfOrder = 0; // numbers below one seen before
    int duplicated = 0;
    int other = 0;      // datagrams that carried no answer of the peer
    int unstamped = 0;  // datagrams without a kernel stamp (read time used)
    double p50 = 0, p99 = 0, max = 0; // ms
    double seconds = 0; // length of the window

    // Answers sent in [fromNs, toNs) (monotonic); arrivals recorded until
    // some time after toNs, so the last ones had time to come.
    static ShieldDelay of(const QList<rig::SpiPeer::Exchange>& exchanges, const QList<rig::UdpReceiver::Datagram>& arrivals,
                          qint64 fromNs, qint64 toNs);
};

#endif
