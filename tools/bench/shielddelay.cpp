#include "shielddelay.h"

#include "rig/cadence.h"

#include <QHash>
#include <algorithm>
#include <cstring>

using namespace rig;

ShieldDelay ShieldDelay::of(const QList<SpiPeer::Exchange>& exchanges, const QList<UdpReceiver::Datagram>& arrivals,
                            qint64 fromNs, qint64 toNs)
{
    ShieldDelay d;
    d.measured = true;
    d.seconds = (toNs - fromNs) / 1e9;
    // Every answer the peer gave, so a datagram that is no answer (an idle
    // block the board library made up when no answer came) is told apart.
    QHash<quint32, const SpiPeer::Exchange*> answers;
    for (const SpiPeer::Exchange& e : exchanges) {
        quint32 seq;
        if (e.answered.size() < 4)
            continue;
        std::memcpy(&seq, e.answered.constData(), sizeof(seq));
        answers.insert(seq, &e);
    }
    QHash<quint32, qint64> arrivedAt;
    qint64 highest = -1;
    for (const UdpReceiver::Datagram& a : arrivals) {
        const auto e = answers.constFind(a.head());
        if (e == answers.constEnd() || a.bytes.size() != e.value()->answered.size()) {
            ++d.other;
            continue;
        }
        if (arrivedAt.contains(a.head())) {
            ++d.duplicated;
            continue;
        }
        if (qint64(a.head()) < highest)
            ++d.outOfOrder;
        highest = std::max(highest, qint64(a.head()));
        d.unstamped += !a.stamped;
        arrivedAt.insert(a.head(), a.kernelMonoNs);
    }
    std::vector<double> ms;
    for (auto e = answers.constBegin(); e != answers.constEnd(); ++e) {
        const qint64 sentNs = e.value()->answeredNs;
        if (sentNs < fromNs || sentNs >= toNs)
            continue;
        ++d.answered;
        const auto at = arrivedAt.constFind(e.key());
        if (at == arrivedAt.constEnd()) {
            ++d.lost;
            continue;
        }
        ms.push_back((at.value() - sentNs) / 1e6);
    }
    d.arrived = int(ms.size());
    if (!ms.empty()) {
        d.p50 = percentile(ms, 50);
        d.p99 = percentile(ms, 99);
        d.max = *std::max_element(ms.begin(), ms.end());
    }
    return d;
}
