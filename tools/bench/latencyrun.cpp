#include "latencyrun.h"

#include "benchrig.h"
#include "rig/runenv.h"
#include "rig/say.h"

#include <QHash>
#include <QtEndian>
#include <algorithm>
#include <numeric>

using namespace rig;

namespace {

constexpr qint64 kPeriodNs = Parent::kPeriodNs;

// When each number first arrived; what came again or after a higher one is
// counted in d. False for a number seen before.
struct Arrivals {
    QHash<quint32, qint64> at;
    qint64 highest = -1;

    bool note(LatencyRun::Delay& d, quint32 seq, qint64 atNs)
    {
        if (at.contains(seq)) {
            ++d.duplicated;
            return false;
        }
        d.outOfOrder += qint64(seq) < highest;
        highest = std::max(highest, qint64(seq));
        at.insert(seq, atNs);
        return true;
    }
};

} // namespace

// Their phase is the median of the last exchanges', so one late exchange
// does not move it.
qint64 LatencyRun::alignedStart(const QList<SpiPeer::Exchange>& exchanges, qint64 notBeforeNs, qint64 offsetNs)
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

LatencyRun::Delay LatencyRun::Delay::parentToShield(const std::vector<Parent::Block>& blocks,
                                                    const QList<SpiPeer::Exchange>& exchanges, qint64 settledFromNs)
{
    Delay d;
    QHash<quint32, const Parent::Block*> bySeq;
    std::vector<double> late;
    for (const Parent::Block& b : blocks) {
        d.refused += b.sentNs < 0;
        if (b.sentNs >= 0) {
            bySeq.insert(b.seq, &b);
            late.push_back((b.sentNs - b.dueNs) / 1e6);
        }
    }
    d.sent = bySeq.size();
    d.senderLate = Quantiles::of(late);

    Arrivals arrivals;
    for (const SpiPeer::Exchange& e : exchanges) {
        quint32 seq;
        if (Parent::numberOf(e.received, &seq) && bySeq.contains(seq) && arrivals.note(d, seq, e.receivedNs))
            d.damaged += e.received != Parent::block(seq);
    }
    d.arrived = arrivals.at.size();

    std::vector<double> all, settled;
    for (const Parent::Block* b : bySeq) {
        const bool inSettled = b->dueNs >= settledFromNs;
        const qint64 at = arrivals.at.value(b->seq, -1); // -1: it never came
        d.settledSent += inSettled;
        d.lost += at < 0;
        d.settledLost += inSettled && at < 0;
        if (at >= 0)
            all.push_back((at - b->sentNs) / 1e6);
        if (at >= 0 && inSettled)
            settled.push_back(all.back());
    }
    d.all = Quantiles::of(all);
    d.settled = Quantiles::of(settled);
    return d;
}

LatencyRun::Delay LatencyRun::Delay::shieldToParent(const QList<SpiPeer::Exchange>& exchanges,
                                                    const QList<UdpReceiver::Datagram>& datagrams, qint64 fromNs,
                                                    qint64 toNs)
{
    Delay d;
    d.measured = true;
    d.seconds = (toNs - fromNs) / 1e9;
    // Every answer the peer gave, so a datagram that is no answer (an idle
    // block the board library made up when no answer came) is told apart.
    QHash<quint32, const SpiPeer::Exchange*> answers;
    for (const SpiPeer::Exchange& e : exchanges)
        if (e.answered.size() >= 4)
            answers.insert(qFromUnaligned<quint32>(e.answered.constData()), &e);
    Arrivals arrivals;
    for (const UdpReceiver::Datagram& a : datagrams) {
        const auto e = answers.constFind(a.head());
        if (e == answers.constEnd() || a.bytes.size() != e.value()->answered.size())
            ++d.other;
        else if (arrivals.note(d, a.head(), a.kernelMonoNs))
            d.unstamped += !a.stamped;
    }
    std::vector<double> ms;
    for (auto e = answers.constBegin(); e != answers.constEnd(); ++e) {
        const qint64 sentNs = e.value()->answeredNs;
        if (sentNs < fromNs || sentNs >= toNs)
            continue;
        ++d.sent;
        const qint64 at = arrivals.at.value(e.key(), -1);
        d.lost += at < 0;
        if (at >= 0)
            ms.push_back((at - sentNs) / 1e6);
    }
    d.arrived = int(ms.size());
    d.all = Quantiles::of(ms);
    return d;
}

bool LatencyRun::run(const std::vector<Parent::Pattern>& patterns, double warmupS)
{
    say("audio latency, driver %s: %s\n", qPrintable(label), ZMA_DRIVER_PATH);
    BenchRig rig;
    Parent parent;
    if (!rig.startSettled(parent, args, warmupS))
        return false;
    const qint64 logsAtStart = rig.log.received;
    toParentPattern = patterns.empty() ? 0 : patterns.front().id; // a where it is there: they come in order

    quint32 seq = 1;
    for (const Parent::Pattern& p : patterns) {
        rig.serveUntil(monotonicNs()); // what is already there belongs to before
        const int errFrom = int(rig.err.count('\n'));
        const int from = rig.peer.count();
        // Time for the sender's thread to be up; half an exchange after the
        // driver's, so a block on time waits 8 ms in every run, not 0 to 16.
        const qint64 start = alignedStart(rig.peer.exchanges(), monotonicNs() + 200 * kMs, kPeriodNs / 2);
        const auto schedule = p.schedule(start, 20240 + quint32(p.id));
        const qint64 last = schedule.back().atNs;
        const bool tap = p.id == toParentPattern;
        rig.audio.keep = tap; // its datagrams were cleared after the last tap
        std::future<std::vector<Parent::Block>> sending = parent.send(schedule, seq);
        rig.serveUntil(last + qint64(Parent::kDrainS * kSec));
        const std::vector<Parent::Block> blocks = sending.get();
        rig.audio.keep = false;
        const QList<SpiPeer::Exchange> ex = rig.peer.exchanges().mid(from);
        const Delay d = Delay::parentToShield(blocks, ex, p.settledFromNs(start));
        toShield.push_back(d);
        seq += quint32(blocks.size());
        stderrLines.push_back(int(rig.err.count('\n')) - errFrom);
        const QList<QByteArray> said = rig.err.split('\n').mid(errFrom, std::min(stderrLines.back(), 2));
        say("  %c %-24s %4d sent, %4d arrived, %3d lost, %d out of order, %d duplicated, %d damaged; "
            "p50 %.2f p99 %.2f max %.2f ms; settled p50 %.2f p99 %.2f max %.2f ms (%d blocks, %d lost); "
            "bench sent late by p99 %.2f max %.2f ms; %d stderr lines\n",
            p.id, qPrintable(p.name), d.sent, d.arrived, d.lost, d.outOfOrder, d.duplicated, d.damaged, d.all.p50,
            d.all.p99, d.all.max, d.settled.p50, d.settled.p99, d.settled.max, d.settledSent,
            d.settledLost, d.senderLate.p99, d.senderLate.max, stderrLines.back());
        for (const QByteArray& line : said)
            say("    driver's stderr: %s\n", line.left(200).constData());
        if (tap) {
            toParent = Delay::shieldToParent(ex, rig.audio.datagrams, start, last);
            rig.audio.datagrams.clear();
            say("    shield -> parent: %d answers, %d arrived, %d lost, %d out of order, %d duplicated, "
                "%d other datagrams, %d without a kernel stamp; p50 %.3f p99 %.3f max %.3f ms\n",
                toParent.sent, toParent.arrived, toParent.lost, toParent.outOfOrder, toParent.duplicated,
                toParent.other, toParent.unstamped, toParent.all.p50, toParent.all.p99, toParent.all.max);
        }
    }
    const QString end = rig.finishDriver();
    logDatagrams = rig.log.received - logsAtStart;
    say("  driver %s; %lld log datagrams during the patterns\n", qPrintable(end), logDatagrams);
    ran = true;
    return true;
}

bool LatencyRun::report(const std::vector<Parent::Pattern>& patterns, const std::vector<const LatencyRun*>& runs)
{
    say("\naudio latency, parent -> shield: a numbered block's send to its arrival at the SPI peer, ms;\n"
        "settled: blocks due from %.0f s after the disturbance on (the burst in b, the start otherwise)\n",
        Parent::kSettleS);
    QString head = QString("  %1").arg("", -32);
    QString sub = QString("  %1").arg("pattern", -32);
    for (const LatencyRun* r : runs) {
        head += QString(" | %1").arg(r->label, -36);
        sub += QString(" | %1 %2 %3 %4 %5").arg("lost", 5).arg("p50", 6).arg("p99", 6).arg("set50", 7).arg("set99", 7);
    }
    say("%s\n%s\n", qPrintable(head), qPrintable(sub));
    for (size_t i = 0; i < patterns.size(); ++i) {
        const Parent::Pattern& p = patterns[i];
        QString line = QString("  %1").arg(QString("%1 %2, %3 s").arg(p.id).arg(p.name).arg(p.seconds), -32);
        for (const LatencyRun* r : runs) {
            const bool have = r->ran && i < r->toShield.size();
            const Delay d = have ? r->toShield[i] : Delay();
            line += QString(" | %1 %2 %3 %4 %5")
                        .arg(have ? QString::number(d.lost) : "-", 5)
                        .arg(figure(d.all.p50, 1, have && d.all.n), 6)
                        .arg(figure(d.all.p99, 1, have && d.all.n), 6)
                        .arg(figure(d.settled.p50, 1, have && d.settled.n), 7)
                        .arg(figure(d.settled.p99, 1, have && d.settled.n), 7);
        }
        say("%s\n", qPrintable(line));
    }

    say("\naudio latency, shield -> parent: the peer's numbered answer to the kernel stamp of its datagram at\n"
        "UDP 20002, ms\n");
    say("  %-14s %8s %8s %6s %8s %8s %8s\n", "driver", "during", "answers", "lost", "p50", "p99", "max");
    for (const LatencyRun* r : runs) {
        const Delay& s = r->toParent;
        if (!r->ran || !s.measured)
            say("  %-14s %8s\n", qPrintable(r->label), "-");
        else
            say("  %-14s %5c %2.0fs %8d %6d %8.3f %8.3f %8.3f\n", qPrintable(r->label), r->toParentPattern, s.seconds,
                s.sent, s.lost, s.all.p50, s.all.p99, s.all.max);
    }

    say("\nchecks of the latency runs\n");
    bool ok = true;
    for (const LatencyRun* r : runs) {
        if (!r->ran) {
            say("  %s: did not run\n", qPrintable(r->label));
            ok = false;
            continue;
        }
        const auto sum = [&](int Delay::*count) {
            return std::accumulate(r->toShield.begin(), r->toShield.end(), 0,
                                   [&](int n, const Delay& d) { return n + d.*count; });
        };
        const int order = sum(&Delay::outOfOrder), twice = sum(&Delay::duplicated), damaged = sum(&Delay::damaged);
        const double late = std::accumulate(r->toShield.begin(), r->toShield.end(), 0.0,
                                            [](double m, const Delay& d) { return std::max(m, d.senderLate.max); });
        const Delay& s = r->toParent;
        say("  %s: parent -> shield %d blocks sent, %d arrived, %d out of order, %d duplicated, %d damaged, "
            "%d sends refused; the bench sent at most %.2f ms late; shield -> parent %d out of order, %d duplicated, "
            "%d without a kernel stamp; %d stderr lines, %lld log datagrams\n",
            qPrintable(r->label), sum(&Delay::sent), sum(&Delay::arrived), order, twice, damaged, sum(&Delay::refused), late,
            s.outOfOrder, s.duplicated, s.unstamped, std::accumulate(r->stderrLines.begin(), r->stderrLines.end(), 0),
            r->logDatagrams);
        ok = ok && order == 0 && twice == 0 && damaged == 0 && s.outOfOrder == 0 && s.duplicated == 0;
    }
    say("  every block in order, once and whole, both ways: %s\n", ok ? "yes" : "NO");
    return ok;
}
