#ifndef PARENTDELAY_H
#define PARENTDELAY_H

// Parent to shield: which of the numbered blocks the bench sent reached the
// SPI peer, in what order, and how long after they were sent.

#include "parentsender.h"
#include "rig/spipeer.h"

#include <QList>
#include <vector>

struct ParentDelay {
    struct Figures {
        int n = 0;
        double p50 = 0, p99 = 0, max = 0; // ms
    };
    int sent = 0;       // blocks
    int refused = 0;    // sends the kernel refused (not counted as sent)
    int arrived = 0;    // distinct numbers seen at the peer
    int lost = 0;       // sent and never seen
    int outOfOrder = 0; // seen after a higher number
    int duplicated = 0; // seen again
    int damaged = 0;    // the number right, the rest of the block not
    Figures all;        // send to arrival at the peer
    Figures settled;    // the same, for blocks due from settledFromNs on
    int settledSent = 0;
    int settledLost = 0;
    double senderLateP99Ms = 0; // how late the bench itself sent, against its schedule
    double senderLateMaxMs = 0;

    // exchanges: the peer's, from before the first block was sent on.
    static ParentDelay of(const std::vector<ParentSender::Block>& blocks, const QList<rig::SpiPeer::Exchange>& exchanges,
                          qint64 settledFromNs);
};

#endif
