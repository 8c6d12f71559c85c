#include "audio.h"

#include "rig/machinesample.h"
#include "rig/procsample.h"
#include "rig/say.h"

#include <cmath>
#include <cstring>

using namespace rig;

namespace {

constexpr qint64 kTickNs = 16000000;
constexpr qint64 kGapBoundMs = 100;
constexpr int kAudioSlack = 2;

// What the parent sends: a magic, a counter, bytes from the counter; so the
// blocks the line gets can be checked whole and in order.
QByteArray parentBlock(quint32 n)
{
    QByteArray b(512, Qt::Uninitialized);
    for (int i = 0; i < 512; ++i)
        b[i] = char((n * 13 + i * 3) & 0xFF);
    std::memcpy(b.data(), "PAR!", 4);
    std::memcpy(b.data() + 4, &n, 4);
    return b;
}

} // namespace

Audio::Audio(RunContext& run)
    : w(run)
{
    in.keep = false;
    in.onDatagram = [this](const UdpReceiver::Datagram& d) {
        if (!counting)
            return;
        if (arrivals.empty())
            firstAtMs = w.now();
        arrivals.push_back(d.kernelNs);
        const quint32 n = d.head();
        const bool isIdle = SpiPeer::isIdle(d.bytes);
        if (isIdle || d.bytes != SpiPeer::answerFor(n)) { // bad: the wrong size too
            ++(isIdle ? idle : bad);
            return;
        }
        ++answers;
        // Answers of one peer go out in order; a skipped one came too late for
        // its exchange and the board library sent idle words.
        PeerLife& life = lives.back();
        if (qint64(n) < life.next) {
            ++misordered;
            return;
        }
        life.late += n - life.next;
        life.next = qint64(n) + 1;
    };
}

Audio::Sched Audio::schedNow()
{
    return {w.now(), ProcSample::runQueueWaitNs(pid, spiTid), MachineSample::cpuPressureUs()};
}

void Audio::begin(qint64 driverPid)
{
    pump(); // what came before is not counted
    counting = true;
    pid = driverPid;
    spiTid = ProcSample::threadNamed(pid, "ThreadSpiTransm"); // Qt names a QThread by its class
    sched.push_back(schedNow());
}

void Audio::endLife(qint64 exchanges)
{
    // Answers after the last one relayed came too late for their exchange.
    pump();
    PeerLife& life = lives.back();
    life.answered = std::max(exchanges, life.next);
    life.late += life.answered - life.next;
}

void Audio::end(qint64 exchanges)
{
    sched.push_back(schedNow());
    driverSocketDrops = UdpReceiver::portDrops(20003);
    pump();
    counting = false;
    endLife(exchanges);
}

void Audio::disturb(bool flood, int ms)
{
    mode = flood ? Flood : Silence;
    modeUntil = w.now() + ms;
    floodStart = w.now();
    floodSent = 0;
    silenceMs += flood ? 0 : ms;
}

void Audio::resume()
{
    mode = Normal;
    nextBlockAt = w.now();
}

void Audio::send(int blocks)
{
    QByteArray d;
    for (int i = 0; i < blocks; ++i)
        d += parentBlock(seq++);
    ++(out.send(d) ? sent : failed);
}

void Audio::feed()
{
    const qint64 t = w.now();
    if (counting && t >= nextSchedAt) {
        nextSchedAt = t + 100;
        sched.push_back(schedNow());
    }
    if (mode != Normal && t >= modeUntil) {
        w.note(mode == Flood ? "UDP flood ends" : "UDP silence ends");
        resume();
    }
    if (mode == Normal) {
        // The parent's pace, one block per 16 ms; a late loop catches up a little.
        if (t - nextBlockAt > 100)
            nextBlockAt = t;
        for (; nextBlockAt <= t; nextBlockAt += 16)
            send(1);
    } else if (mode == Flood) {
        // 3000 datagrams a second of one to three blocks: about 100 times the pace.
        for (const qint64 due = (t - floodStart) * 3; floodSent < due; ++floodSent, ++floodDatagrams)
            send(w.uni(1, 3));
    }
}

void Audio::checkLine(const QList<SpiPeer::Exchange>& exchanges)
{
    for (const SpiPeer::Exchange& e : exchanges) {
        const QByteArray& r = e.received;
        quint32 n = 0;
        if (r.size() == 512)
            std::memcpy(&n, r.constData() + 4, 4);
        if (r.size() == 512 && SpiPeer::isIdle(r))
            ++lineIdle;
        else if (r.size() != 512 || r != parentBlock(n))
            ++lineBad;
        else if (qint64(n) <= lastAtLine)
            ++lineMisordered;
        else {
            ++lineParent;
            lastAtLine = n;
        }
    }
}

void Audio::printLosses()
{
    // Datagrams missing by each arrival: a late one raises the count for a
    // moment, a lost tick for good; so the rises of its minimum over the rest
    // of the run are where ticks were lost.
    const size_t n = arrivals.size();
    std::vector<qint64> low(n);
    for (size_t i = n; i-- > 0;) {
        const qint64 d = qint64(std::llround(double(arrivals[i] - arrivals[0]) / kTickNs)) - qint64(i);
        low[i] = i + 1 < n ? std::min(d, low[i + 1]) : d;
    }
    qint64 lost = 0, starved = 0;
    int shown = 0;
    for (size_t i = 1; i < n; ++i) {
        if (low[i] <= low[i - 1])
            continue;
        const qint64 ticks = low[i] - low[i - 1], gapMs = (arrivals[i] - arrivals[i - 1]) / 1000000, at = atMs(i - 1);
        // The samples around the gap: the audio thread's wait for a CPU then.
        Sched a = sched.front(), b = sched.back();
        for (const Sched& e : sched) {
            if (e.atMs <= at - 100)
                a = e;
            if (e.atMs >= at + gapMs + 100) {
                b = e;
                break;
            }
        }
        const qint64 waitMs = (b.spiWaitNs - a.spiWaitNs) / 1000000;
        const int pressure = int((b.pressureUs - a.pressureUs) / 10 / std::max<qint64>(1, b.atMs - a.atMs));
        lost += ticks;
        starved += waitMs >= kTickNs / 1000000 ? ticks : 0;
        const QString text = QStringLiteral("%1 at %2 s (gap %3 ms; around it the audio thread waited %4 ms for a CPU, "
                                            "CPU pressure %5%)")
                                 .arg(ticks).arg(at / 1000.0, 0, 'f', 1).arg(gapMs).arg(waitMs).arg(pressure);
        if (shown++ < 12)
            say("        lost %s\n", qPrintable(text));
    }
    if (shown > 12)
        say("        ... and %d more\n", shown - 12);
    say("        ticks lost for good: %lld, %lld of them where the audio thread had waited 16 ms or more for a CPU\n",
        lost, starved);
}

void Audio::summary(long long driverDropLines)
{
    say("parent audio to 20003: %lld datagrams (%lld in floods), %lld failed sends; the driver reported "
        "dropping blocks %lld times, the kernel dropped %lld datagrams at its socket\n",
        sent, floodDatagrams, failed, driverDropLines, driverSocketDrops);
}

void Audio::report(Verdict& verdict)
{
    const qint64 spanNs = arrivals.empty() ? 0 : arrivals.back() - arrivals.front();
    const qint64 expected = qint64(double(spanNs) / kTickNs + 0.5) + 1;
    qint64 late = 0, answered = 0, maxGapNs = 0, maxGapAtMs = 0, over24 = 0;
    for (const PeerLife& l : lives) {
        late += l.late;
        answered += std::max<qint64>(l.answered, 0);
    }
    for (size_t i = 1; i < arrivals.size(); ++i) {
        const qint64 gap = arrivals[i] - arrivals[i - 1];
        over24 += gap > kTickNs * 3 / 2;
        maxGapAtMs = gap > maxGapNs ? atMs(i - 1) : maxGapAtMs;
        maxGapNs = std::max(maxGapNs, gap);
    }
    // With the SPI peer gone the board library clocks idle words, and the
    // driver still sends one datagram a tick: the count does not change.
    verdict.check(std::llabs(total() - expected) <= kAudioSlack,
                  "audio exchanges on 20002: %lld datagrams in %.3f s, expected %lld +- %d (one per 16 ms, the SPI "
                  "peer's absence included): %lld answers of the peer, %lld idle blocks",
                  total(), spanNs / 1e9, expected, kAudioSlack, answers, idle);
    const Sched &a = sched.front(), &b = sched.back();
    say("        the driver's audio thread waited for a CPU %.2f s in all%s; the machine's CPU pressure "
        "(some task waiting) was %.0f%% of the time\n", (b.spiWaitNs - a.spiWaitNs) / 1e9,
        spiTid < 0 ? " (thread not found)" : "",
        (b.pressureUs - a.pressureUs) / 10.0 / std::max<qint64>(1, b.atMs - a.atMs));
    if (!arrivals.empty())
        printLosses();
    verdict.check(bad == 0 && misordered == 0,
                  "audio content: %lld malformed, %lld out of order; of %lld answers of %d SPI peer lives %lld "
                  "relayed, %lld too late for their exchange (the board library sent idle words instead)",
                  bad, misordered, answered, int(lives.size()), answers, late);
    verdict.check(maxGapNs <= kGapBoundMs * 1000000,
                  "audio gaps: longest %.1f ms (at %.1f s; bound %lld ms), %lld gaps over 24 ms",
                  maxGapNs / 1e6, maxGapAtMs / 1000.0, kGapBoundMs, over24);
    verdict.check(lineBad == 0 && lineMisordered == 0,
                  "parent audio at the line: %lld of the %u blocks sent got there (floods are cut to 10 waiting "
                  "blocks); %lld malformed, %lld out of order; %lld idle blocks",
                  lineParent, seq, lineBad, lineMisordered, lineIdle);
}
