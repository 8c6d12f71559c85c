#include "parentdelay.h"

#include "rig/cadence.h"

#include <QHash>
#include <algorithm>

using namespace rig;

namespace {

ParentDelay::Figures figures(const std::vector<double>& ms)
{
    ParentDelay::Figures f;
    f.n = int(ms.size());
    if (ms.empty())
        return f;
    f.p50 = percentile(ms, 50);
    f.p99 = percentile(ms, 99);
    f.max = *std::max_element(ms.begin(), ms.end());
    return f;
}

} // namespace

ParentDelay ParentDelay::of(const std::vector<ParentSender::Block>& blocks, const QList<SpiPeer::Exchange>& exchanges,
                            qint64 settledFromNs)
{
    ParentDelay d;
    QHash<quint32, const ParentSender::Block*> bySeq;
    std::vector<double> late;
    for (const ParentSender::Block& b : blocks) {
        if (b.sentNs < 0) {
            ++d.refused;
            continue;
        }
        bySeq.insert(b.seq, &b);
        late.push_back((b.sentNs - b.dueNs) / 1e6);
    }
    d.sent = bySeq.size();
    if (!late.empty()) {
        d.senderLateP99Ms = percentile(late, 99);
        d.senderLateMaxMs = *std::max_element(late.begin(), late.end());
    }

    QHash<quint32, qint64> arrivedAt;
    qint64 highest = -1;
    for (const SpiPeer::Exchange& e : exchanges) {
        quint32 seq;
        if (!ParentSender::numberOf(e.received, &seq) || !bySeq.contains(seq))
            continue;
        if (arrivedAt.contains(seq)) {
            ++d.duplicated;
            continue;
        }
        if (qint64(seq) < highest)
            ++d.outOfOrder;
        highest = std::max(highest, qint64(seq));
        if (e.received != ParentSender::block(seq))
            ++d.damaged;
        arrivedAt.insert(seq, e.receivedNs);
    }
    d.arrived = arrivedAt.size();

    std::vector<double> all, settled;
    for (const ParentSender::Block* b : bySeq) {
        const bool inSettled = b->dueNs >= settledFromNs;
        d.settledSent += inSettled;
        const auto at = arrivedAt.constFind(b->seq);
        if (at == arrivedAt.constEnd()) {
            ++d.lost;
            d.settledLost += inSettled;
            continue;
        }
        const double ms = (at.value() - b->sentNs) / 1e6;
        all.push_back(ms);
        if (inSettled)
            settled.push_back(ms);
    }
    d.all = figures(all);
    d.settled = figures(settled);
    return d;
}
