#include "parent.h"

#include "rig/runenv.h"

#include <QRandomGenerator>
#include <cerrno>
#include <cstring>
#include <ctime>

using namespace rig;

namespace {

// Where the stall of pattern b starts, and how many blocks it holds back.
constexpr int kStallAtBlock = 188; // 3.008 s
constexpr int kStalledBlocks = 4;  // 64 ms
const char kMark[4] = {'z', 'm', 'a', 'B'};

} // namespace

std::vector<Parent::Send> Parent::Pattern::schedule(qint64 startNs, quint32 seed) const
{
    QRandomGenerator random(seed);
    const qint64 endNs = startNs + qint64(std::llround(seconds * 1e9));
    // c: ten blocks at once, then one every 16 ms; d: the parent's clock 1 %
    // fast; e: eight blocks in one 4096-byte datagram every 128 ms.
    std::vector<Send> s(id == 'c' ? 9 : 0, {startNs, 1});
    const qint64 step = id == 'd' ? 15840 * 1000 : id == 'e' ? 8 * kPeriodNs : kPeriodNs;
    int i = 0;
    for (qint64 at = startNs; at < endNs; at += step, ++i) {
        if (id == 'a') // each block up to 2 ms early or late (uniform)
            s.push_back({at + qint64((random.generateDouble() * 4 - 2) * kMs), 1});
        else if (id == 'b' && i >= kStallAtBlock && i < kStallAtBlock + kStalledBlocks)
            // Held back by the stall, out together at its end, just before the block due then.
            s.push_back({startNs + (kStallAtBlock + kStalledBlocks) * kPeriodNs, 1});
        else
            s.push_back({at, id == 'e' ? 8 : 1});
    }
    return s;
}

std::vector<Parent::Pattern> Parent::patterns(const QString& ids, double scale)
{
    const double stallEnd = (kStallAtBlock + kStalledBlocks) * 0.016;
    std::vector<Pattern> out;
    for (Pattern p : std::vector<Pattern>{{'a', "16 ms +-2 ms jitter", 15, 0},
                                          {'b', "64 ms stall at 3 s", 15, stallEnd},
                                          {'c', "10 at once, then 16 ms", 15, 0},
                                          {'d', "clock 1 % fast", 30, 0},
                                          {'e', "8 blocks per 128 ms", 15, 0}}) {
        p.seconds *= scale;
        if (ids.contains(QLatin1Char(p.id)))
            out.push_back(p);
    }
    return out;
}

QByteArray Parent::block(quint32 seq)
{
    QByteArray b(kBlockBytes, char(0));
    for (int i = 8; i < kBlockBytes; ++i)
        b[i] = char(((seq * 31 + quint32(i) * 3) & 0x7E) | (i % 2 ? 0 : 1));
    std::memcpy(b.data(), &seq, sizeof(seq));
    std::memcpy(b.data() + 4, kMark, sizeof(kMark));
    return b;
}

bool Parent::numberOf(const QByteArray& block, quint32* seq)
{
    if (block.size() != kBlockBytes || std::memcmp(block.constData() + 4, kMark, sizeof(kMark)) != 0)
        return false;
    std::memcpy(seq, block.constData(), sizeof(*seq));
    return true;
}

std::future<std::vector<Parent::Block>> Parent::send(std::vector<Send> schedule, quint32 firstSeq)
{
    return std::async(std::launch::async, [this, schedule = std::move(schedule), seq = firstSeq]() mutable {
        std::vector<Block> blocks;
        for (const Send& s : schedule) {
            // Made before the sleep, so the send follows the wake-up at once.
            QByteArray datagram;
            for (int i = 0; i < s.blocks; ++i)
                datagram += block(seq + quint32(i));
            const timespec at{time_t(s.atNs / kSec), long(s.atNs % kSec)};
            while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) == EINTR) {}
            const qint64 now = monotonicNs();
            const bool sent = out.send(datagram);
            for (int i = 0; i < s.blocks; ++i)
                blocks.push_back({seq++, s.atNs, sent ? now : -1});
        }
        return blocks;
    });
}
