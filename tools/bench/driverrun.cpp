#include "driverrun.h"

#include "benchoptions.h"
#include "rig/runenv.h"
#include "rig/say.h"
#include "rig/shieldframes.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <unistd.h>

using namespace rig;

double DriverRun::ProgramWindow::wakeups() const
{
    const double s = (p1.atNs - p0.atNs) / 1e9;
    if (p1.threadSwitches.isEmpty() || s <= 0)
        return std::nan("");
    // A thread that came during the window counts from 0; one that ended is
    // not there to count.
    qint64 n = 0;
    for (auto it = p1.threadSwitches.cbegin(); it != p1.threadSwitches.cend(); ++it)
        n += it.value() - p0.threadSwitches.value(it.key(), 0);
    return n / s;
}

void DriverRun::recordIdle(BenchRig& rig, const BenchOptions& o)
{
    struct Watched { ProgramWindow& p; UdpReceiver& audio; SpiPeer* peer; int spi0; };
    std::vector<Watched> watched;
    const auto watch = [&](ProgramWindow& p, const QString& name, UdpReceiver& audio, SpiPeer* peer) {
        p.name = name;
        if (p.pid > 0)
            watched.push_back({p, audio, peer, 0});
    };
    watch(driver, "driver", rig.audio, &rig.peer);
    watch(design, rig.design.name, rig.design.audio, rig.design.peer.get());
    watch(physical, rig.physical.name, rig.physical.audio, rig.physical.peer.get());

    rig.serveUntil(monotonicNs()); // what is already there belongs to before (audio is not kept)
    const qint64 logs0 = rig.log.received;
    if (o.pidReport)
        for (const Watched& x : watched)
            fprintf(stderr, "zma-bench: %s pid %lld: idle window of %.0f s starts now "
                            "(e.g. perf record -e cpu-clock -g -p %lld -- sleep %.0f)\n",
                    qPrintable(x.p.name), x.p.pid, o.seconds, x.p.pid, o.seconds);
    m0 = MachineSample::take();
    self0 = ProcSample::take(getpid());
    for (Watched& x : watched) {
        x.spi0 = x.peer ? x.peer->count() : 0;
        x.p.p0 = ProcSample::take(x.p.pid);
        x.p.rssMin = x.p.rssMax = x.p.p0.rssKb;
        x.audio.keep = true;
    }
    const auto sampleRss = [&] {
        for (Watched& x : watched) {
            const qint64 kb = ProcSample::take(x.p.pid).rssKb;
            if (kb >= 0) {
                x.p.rssMin = std::min(x.p.rssMin, kb);
                x.p.rssMax = std::max(x.p.rssMax, kb);
            }
        }
    };
    const qint64 startNs = monotonicNs(), endNs = startNs + qint64(o.seconds * kSec);
    for (qint64 at = startNs + kSec; at < endNs; at += kSec) {
        rig.serveUntil(at);
        sampleRss(); // each second
    }
    rig.serveUntil(endNs);
    for (Watched& x : watched) {
        x.audio.keep = false;
        x.p.p1 = ProcSample::take(x.p.pid);
    }
    self1 = ProcSample::take(getpid());
    m1 = MachineSample::take();
    sampleRss();
    seconds = (m1.atNs - m0.atNs) / 1e9;
    for (Watched& x : watched) {
        x.p.ran = true;
        x.p.cadence = Cadence::of(x.audio.datagrams, Parent::kPeriodNs / 1e6, Parent::kBlockBytes);
        x.audio.datagrams.clear();
        x.p.spiExchanges = x.peer ? x.peer->count() - x.spi0 : -1;
    }
    logDatagrams = rig.log.received - logs0;
    if (o.pidReport)
        fprintf(stderr, "zma-bench: idle window ended\n");
}

double DriverRun::othersPercent() const
{
    const double jiffies = double(m1.total - m0.total);
    if (jiffies <= 0)
        return -1;
    const double hz = double(sysconf(_SC_CLK_TCK)), span = (m1.atNs - m0.atNs) / 1e9;
    const double busy = double(m1.busy - m0.busy) / hz;
    qint64 ticks = self1.ticks - self0.ticks;
    for (const ProgramWindow* p : {&driver, &design, &physical})
        if (p->ran)
            ticks += p->p1.ticks - p->p0.ticks;
    return std::max(0.0, (busy - double(ticks) / hz) / span / (jiffies / hz / span) * 100.0);
}

void DriverRun::run(const BenchOptions& o)
{
    BenchRig rig;
    if (o.driver) {
        say("driver: %s against a pty shield and a SPI peer\n", ZMA_DRIVER_PATH);
        if (!rig.startDriver({}, o.warmup))
            return;
        driver.pid = rig.driver.pid();
    }
    if (o.reference && !rig.isBound()) {
        say("  cannot bind UDP 20002/20004/20012/20013 (use run-bench.sh)\n");
        return;
    }
    if (o.reference) {
        say("floors beside it: %s (design) and %s --physical, each with a SPI peer of its own\n",
            ZMA_BENCH_REF_PATH, ZMA_BENCH_REF_PATH);
        design.pid = rig.startFloor(rig.design);
        physical.pid = rig.startFloor(rig.physical);
        if (design.pid < 0 || physical.pid < 0)
            say("  a floor did not start\n");
        say("  design floor pid %lld, physical floor pid %lld\n", design.pid, physical.pid);
    }
    say("  %.0f s to settle, then the idle window of %.0f s\n", o.warmup, o.seconds);
    rig.serveForMs(o.warmup * 1000);
    if (o.driver && o.reference)
        say("  %s\n", qPrintable(rig.matchFloorsToDriver()));
    recordIdle(rig, o);
    rig.stopFloors();
    if (!o.driver)
        return;
    if (!o.idleOnly) {
        say("  latency: %d dials, then %d 'open 1'\n", o.dials, o.opens);
        for (int i = 0; i < o.dials; ++i)
            dial(rig, 20 + i % 200);
        for (int i = 0; i < o.opens; ++i)
            open(rig);
        rssAfterLatency = ProcSample::take(rig.driver.pid()).rssKb;
    }
    const QString end = rig.finishDriver();
    say("  driver %s; %d stderr lines after start-up; %lld log datagrams in all\n", qPrintable(end),
        rig.stderrLinesSinceReady(), rig.log.received);
}

void DriverRun::dial(BenchRig& rig, int n)
{
    ShieldPty& line = rig.shield;
    const QByteArray want = "\ndial " + QByteArray::number(n) + "\n";
    const int outFrom = std::max(0, int(rig.out.size()) - 1);
    const int frameFrom = int(line.frames.size());
    qint64 seenLine = -1, seenCall = -1;
    const qint64 sent = monotonicNs();
    line.send(dialFrame(uint8_t(n)));
    rig.serveUntil(sent + 2 * kSec, [&] {
        if (seenLine < 0 && rig.out.indexOf(want, outFrom) >= 0)
            seenLine = rig.outAtNs;
        const int at = seenCall < 0 ? line.find(kCallFrame, frameFrom) : -1;
        if (at >= 0)
            seenCall = line.frames[at].atNs;
        return seenLine >= 0 && seenCall >= 0;
    });
    dialLine.add(sent, seenLine);
    dialCall.add(sent, seenCall);
    // Back to rest before the next one.
    const int dropFrom = std::max(0, int(rig.out.size()) - 1);
    line.send(frame(DROP, QByteArray(), true));
    rig.serveUntil(monotonicNs() + 2 * kSec, [&] { return rig.out.indexOf("\ndrop\n", dropFrom) >= 0; });
    rig.serveForMs(20 + random.bounded(20.0));
}

void DriverRun::open(BenchRig& rig)
{
    ShieldPty& line = rig.shield;
    const int frameFrom = int(line.frames.size());
    int at = -1;
    const qint64 sent = monotonicNs();
    if (::write(rig.stdinFd(), "open 1\n", 7) == 7)
        rig.serveUntil(sent + 2 * kSec, [&] { return (at = line.find(kOpen1Frame, frameFrom)) >= 0; });
    openFrame.add(sent, at < 0 ? -1 : line.frames[at].atNs);
    if (at < 0)
        return;
    // The shield confirms, so the driver does not repeat the command.
    line.send(frame(OPEN_1_FREE_DONE));
    rig.serveForMs(20 + random.bounded(20.0));
    for (int k = at + 1; k < line.frames.size(); ++k)
        openRepeats += line.frames[k].bytes == kOpen1Frame;
}
