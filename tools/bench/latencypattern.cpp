#include "latencypattern.h"

#include <QRandomGenerator>
#include <cmath>


namespace {

constexpr qint64 kMsNs = 1000000;
constexpr qint64 kPeriodNs = 16 * kMsNs;
// Where the stall of pattern b starts, and how many blocks it holds back.
constexpr int kStallAtBlock = 188; // 3.008 s
constexpr int kStalledBlocks = 4;  // 64 ms

qint64 endOf(const LatencyPattern& p, qint64 startNs)
{
    return startNs + qint64(std::llround(p.seconds * 1e9));
}

// a: every 16 ms, each block up to 2 ms early or late (uniform).
std::vector<ParentSender::Send> jitter(const LatencyPattern& p, qint64 startNs, quint32 seed)
{
    QRandomGenerator random(seed);
    std::vector<ParentSender::Send> s;
    for (qint64 at = startNs; at < endOf(p, startNs); at += kPeriodNs)
        s.push_back({at + qint64((random.generateDouble() * 4 - 2) * kMsNs), 1});
    return s;
}

// b: every 16 ms, but the blocks due in a 64 ms stall go out together at its
// end, just before the block due then.
std::vector<ParentSender::Send> stall(const LatencyPattern& p, qint64 startNs, quint32)
{
    std::vector<ParentSender::Send> s;
    int i = 0;
    for (qint64 at = startNs; at < endOf(p, startNs); at += kPeriodNs, ++i) {
        if (i >= kStallAtBlock && i < kStallAtBlock + kStalledBlocks)
            s.push_back({startNs + (kStallAtBlock + kStalledBlocks) * kPeriodNs, 1});
        else
            s.push_back({at, 1});
    }
    return s;
}

// c: ten blocks at once, then one every 16 ms.
std::vector<ParentSender::Send> prefill(const LatencyPattern& p, qint64 startNs, quint32)
{
    std::vector<ParentSender::Send> s(10, {startNs, 1});
    for (qint64 at = startNs + kPeriodNs; at < endOf(p, startNs); at += kPeriodNs)
        s.push_back({at, 1});
    return s;
}

// d: the parent's clock 1 % fast: one block every 15.84 ms.
std::vector<ParentSender::Send> fast(const LatencyPattern& p, qint64 startNs, quint32)
{
    std::vector<ParentSender::Send> s;
    for (qint64 i = 0;; ++i) {
        const qint64 at = startNs + i * 1584 * kMsNs / 100;
        if (at >= endOf(p, startNs))
            break;
        s.push_back({at, 1});
    }
    return s;
}

// e: eight blocks in one 4096-byte datagram every 128 ms.
std::vector<ParentSender::Send> chunks(const LatencyPattern& p, qint64 startNs, quint32)
{
    std::vector<ParentSender::Send> s;
    for (qint64 at = startNs; at < endOf(p, startNs); at += 8 * kPeriodNs)
        s.push_back({at, 8});
    return s;
}

} // namespace

qint64 LatencyPattern::settledFromNs(qint64 startNs) const
{
    return startNs + qint64(std::llround((disturbanceS + kSettleS) * 1e9));
}

std::vector<LatencyPattern> LatencyPattern::all(const QString& ids, double scale)
{
    const double stallEnd = (kStallAtBlock + kStalledBlocks) * 0.016;
    const std::vector<LatencyPattern> every = {
        {'a', "16 ms +-2 ms jitter", 15, 0, jitter},
        {'b', "64 ms stall at 3 s", 15, stallEnd, stall},
        {'c', "10 at once, then 16 ms", 15, 0, prefill},
        {'d', "clock 1 % fast", 30, 0, fast},
        {'e', "8 blocks per 128 ms", 15, 0, chunks},
    };
    std::vector<LatencyPattern> out;
    for (LatencyPattern p : every) {
        if (!ids.contains(QLatin1Char(p.id)))
            continue;
        p.seconds *= scale;
        out.push_back(p);
    }
    return out;
}
