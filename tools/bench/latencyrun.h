#ifndef LATENCYRUN_H
#define LATENCYRUN_H

// One driver fed each parent pattern in turn: its blocks' delay to the SPI
// peer, and during one pattern the peer's answers' delay to UDP 20002.

#include "parent.h"
#include "rig/quantiles.h"
#include "rig/spipeer.h"
#include "rig/udpreceiver.h"

#include <QStringList>

class LatencyRun
{
public:
    // How a stream of numbered blocks came through the driver, either way:
    // parent to shield, the bench's blocks to the SPI peer; shield to parent,
    // the peer's numbered answers to UDP 20002 (by the kernel's stamps).
    struct Delay {
        bool measured = false;
        int sent = 0;       // blocks, or answers in the window
        int arrived = 0;    // of those, seen at the far end
        int lost = 0;       // sent and never seen
        int outOfOrder = 0; // seen after a higher number
        int duplicated = 0; // seen again
        rig::Quantiles all; // send to arrival, ms
        // Parent to shield.
        int refused = 0; // sends the kernel refused (not counted as sent)
        int damaged = 0; // the number right, the rest of the block not
        rig::Quantiles settled; // the same as all, for blocks due from settledFromNs on
        int settledSent = 0;
        int settledLost = 0;
        rig::Quantiles senderLate; // how late the bench itself sent against its schedule, ms
        // Shield to parent.
        int other = 0;      // datagrams that carried no answer of the peer
        int unstamped = 0;  // datagrams without a kernel stamp (read time used)
        double seconds = 0; // length of the window

        // exchanges: the peer's, from before the first block was sent on.
        static Delay parentToShield(const std::vector<Parent::Block>& blocks,
                                    const QList<rig::SpiPeer::Exchange>& exchanges, qint64 settledFromNs);
        // Answers sent in [fromNs, toNs) (monotonic); arrivals recorded until
        // some time after toNs, so the last ones had time to come.
        static Delay shieldToParent(const QList<rig::SpiPeer::Exchange>& exchanges,
                                    const QList<rig::UdpReceiver::Datagram>& arrivals, qint64 fromNs, qint64 toNs);
    };

    LatencyRun(const QString& label, const QStringList& args) : label(label), args(args) {}

    // The first time from notBeforeNs on that lies offsetNs after one of the
    // driver's exchanges, as the peer saw them.
    static qint64 alignedStart(const QList<rig::SpiPeer::Exchange>& exchanges, qint64 notBeforeNs, qint64 offsetNs);

    // Starts the driver, lets it settle for warmupS, plays the patterns (the
    // shield's direction during a, or the first); false if it did not start.
    bool run(const std::vector<Parent::Pattern>& patterns, double warmupS);

    // The runs side by side, both ways; true when every run ran and nothing
    // came out of order, twice or damaged.
    static bool report(const std::vector<Parent::Pattern>& patterns, const std::vector<const LatencyRun*>& runs);

    QString label;
    QStringList args;
    bool ran = false;
    std::vector<Delay> toShield; // one per pattern, in order
    Delay toParent;
    char toParentPattern = 0; // during which toParent was measured
    std::vector<int> stderrLines; // new stderr lines of the driver, per pattern
    qint64 logDatagrams = 0;
};

#endif
