#include "latencyrun.h"

#include "rig/say.h"
#include "benchdriver.h"
#include "rig/procsample.h"

#include <algorithm>

using namespace rig;

namespace {

constexpr qint64 kPeriodNs = 16 * kMs;

// The first time from notBeforeNs on that lies `offsetNs` after one of the
// driver's exchanges, as the peer saw them. Their phase is the median of
// the last ones', so one late exchange does not move it.
qint64 alignedStart(const QList<SpiPeer::Exchange>& exchanges, qint64 notBeforeNs, qint64 offsetNs)
{
    if (exchanges.isEmpty())
        return notBeforeNs;
    const qint64 ref = exchanges.last().receivedNs;
    std::vector<qint64> phase;
    for (int i = std::max(0, int(exchanges.size()) - 32); i < exchanges.size(); ++i) {
        qint64 d = (exchanges[i].receivedNs - ref) % kPeriodNs;
        if (d > kPeriodNs / 2)
            d -= kPeriodNs;
        else if (d <= -kPeriodNs / 2)
            d += kPeriodNs;
        phase.push_back(d);
    }
    std::nth_element(phase.begin(), phase.begin() + phase.size() / 2, phase.end());
    const qint64 exchangeAt = ref + phase[phase.size() / 2] + offsetNs;
    const qint64 periods = std::max<qint64>(0, (notBeforeNs - exchangeAt + kPeriodNs - 1) / kPeriodNs);
    return exchangeAt + periods * kPeriodNs;
}

} // namespace

LatencyRun::LatencyRun(const QString& l, const QStringList& a)
    : label(l), args(a)
{
}

bool LatencyRun::run(const std::vector<LatencyPattern>& patterns, double warmupS, char shieldDuring)
{
    say("audio latency, driver %s: %s\n", qPrintable(label), ZMA_DRIVER_PATH);
    BenchDriver rig;
    ParentSender sender;
    if (!sender.isOpen()) {
        say("  cannot make a UDP socket\n");
        return false;
    }
    if (!rig.start(args))
        return false;
    Hub& hub = rig.hub;
    say("  pid %lld, shield_ready; %.0f s to settle\n", rig.pid(), warmupS);
    hub.serveForMs(warmupS * 1000);
    const int errAtStart = int(hub.err.size());
    const qint64 logsAtStart = hub.logDatagrams;
    shieldPattern = patterns.empty() ? 0 : patterns.front().id;
    for (const LatencyPattern& p : patterns)
        if (p.id == shieldDuring)
            shieldPattern = p.id;

    quint32 seq = 1;
    for (const LatencyPattern& p : patterns) {
        hub.serveUntil(monotonicNs()); // what is already there belongs to before
        const int errFrom = int(hub.err.count('\n'));
        const int from = rig.peer.count();
        // Time for the sender's thread to be up; the blocks due half an
        // exchange after the driver's, so a block on time waits 8 ms in
        // every pattern and run, not 0 to 16 by chance.
        const qint64 start = alignedStart(rig.peer.exchanges(), monotonicNs() + 200 * kMs, kPeriodNs / 2);
        const auto schedule = p.schedule(start, 20240 + quint32(p.id));
        const qint64 last = schedule.back().atNs;
        const bool tap = p.id == shieldPattern;
        if (tap) {
            hub.audio.datagrams.clear();
            hub.audio.keep = true;
        }
        sender.start(schedule, seq);
        hub.serveUntil(last + qint64(kDrainS * kSec));
        sender.wait();
        hub.audio.keep = false;
        const QList<SpiPeer::Exchange> all = rig.peer.exchanges();
        const QList<SpiPeer::Exchange> ex = all.mid(from);
        const ParentDelay d = ParentDelay::of(sender.blocks, ex, p.settledFromNs(start));
        parent.push_back(d);
        seq += quint32(sender.blocks.size());
        stderrLines.push_back(int(hub.err.count('\n')) - errFrom);
        const QList<QByteArray> said = hub.err.split('\n').mid(errFrom, std::min(stderrLines.back(), 2));
        say("  %c %-24s %4d sent, %4d arrived, %3d lost, %d out of order, %d duplicated, %d damaged; "
            "p50 %.2f p99 %.2f max %.2f ms; settled p50 %.2f p99 %.2f max %.2f ms (%d blocks, %d lost); "
            "bench sent late by p99 %.2f max %.2f ms; %d stderr lines\n",
            p.id, qPrintable(p.name), d.sent, d.arrived, d.lost, d.outOfOrder, d.duplicated, d.damaged, d.all.p50,
            d.all.p99, d.all.max, d.settled.p50, d.settled.p99, d.settled.max, d.settledSent,
            d.settledLost, d.senderLateP99Ms, d.senderLateMaxMs, stderrLines.back());
        for (const QByteArray& line : said)
            say("    driver's stderr: %s\n", line.left(200).constData());
        if (tap) {
            shield = ShieldDelay::of(ex, hub.audio.datagrams, start, last);
            hub.audio.datagrams.clear();
            say("    shield -> parent: %d answers, %d arrived, %d lost, %d out of order, %d duplicated, "
                "%d other datagrams, %d without a kernel stamp; p50 %.3f p99 %.3f max %.3f ms\n",
                shield.answered, shield.arrived, shield.lost, shield.outOfOrder, shield.duplicated, shield.other,
                shield.unstamped, shield.p50, shield.p99, shield.max);
        }
    }
    rig.finish();
    stderrText = hub.err.mid(errAtStart);
    logDatagrams = hub.logDatagrams - logsAtStart;
    say("  driver %s; %lld log datagrams during the patterns\n",
        rig.exited ? qPrintable(QString("exited with status %1 after end of input").arg(rig.exitCode))
                   : "still running 5 s after end of input (killed)",
        logDatagrams);
    ran = true;
    return true;
}
