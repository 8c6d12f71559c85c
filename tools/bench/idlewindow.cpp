#include "idlewindow.h"

#include "benchoptions.h"
#include "rig/runenv.h"
#include "rig/say.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <unistd.h>

using namespace rig;

double ProgramWindow::wakeups() const
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

bool ProgramWindow::rssFlat(qint64 boundKb) const
{
    return p0.rssKb > 0 && std::abs(p1.rssKb - p0.rssKb) <= boundKb && rssMax - rssMin <= boundKb;
}

IdleWindow IdleWindow::record(BenchRig& rig, const BenchOptions& o, qint64 driverPid, qint64 designPid,
                              qint64 physicalPid)
{
    IdleWindow w;
    struct Watched {
        ProgramWindow& p;
        UdpReceiver& audio;
        SpiPeer* peer;
        int spi0;
    };
    std::vector<Watched> watched;
    const auto watch = [&](ProgramWindow& p, const QString& name, qint64 pid, UdpReceiver& audio, SpiPeer* peer) {
        p.name = name;
        p.pid = pid;
        if (pid > 0)
            watched.push_back({p, audio, peer, 0});
    };
    watch(w.driver, "driver", driverPid, rig.audio, &rig.peer);
    watch(w.design, rig.design.name, designPid, rig.design.audio, rig.design.peer.get());
    watch(w.physical, rig.physical.name, physicalPid, rig.physical.audio, rig.physical.peer.get());

    rig.serveUntil(monotonicNs()); // what is already there belongs to before (audio is not kept)
    const qint64 logs0 = rig.log.received;
    if (o.pidReport)
        for (const Watched& x : watched)
            fprintf(stderr, "zma-bench: %s pid %lld: idle window of %.0f s starts now "
                            "(e.g. perf record -e cpu-clock -g -p %lld -- sleep %.0f)\n",
                    qPrintable(x.p.name), x.p.pid, o.seconds, x.p.pid, o.seconds);
    w.m0 = MachineSample::take();
    w.self0 = ProcSample::take(getpid());
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
    const qint64 startNs = monotonicNs();
    const qint64 endNs = startNs + qint64(o.seconds * kSec);
    for (qint64 at = startNs + kSec; at < endNs; at += kSec) {
        rig.serveUntil(at);
        sampleRss(); // each second
    }
    rig.serveUntil(endNs);
    for (Watched& x : watched) {
        x.audio.keep = false;
        x.p.p1 = ProcSample::take(x.p.pid);
    }
    w.self1 = ProcSample::take(getpid());
    w.m1 = MachineSample::take();
    sampleRss();
    w.seconds = (w.m1.atNs - w.m0.atNs) / 1e9;
    for (Watched& x : watched) {
        x.p.ran = true;
        x.p.cadence = Cadence::of(x.audio.datagrams, Parent::kPeriodNs / 1e6, Parent::kBlockBytes);
        x.audio.datagrams.clear();
        x.p.spiExchanges = x.peer ? x.peer->count() - x.spi0 : -1;
    }
    w.logDatagrams = rig.log.received - logs0;
    if (o.pidReport)
        fprintf(stderr, "zma-bench: idle window ended\n");
    return w;
}

double IdleWindow::othersPercent() const
{
    const double jiffies = double(m1.total - m0.total);
    if (jiffies <= 0)
        return -1;
    const double hz = double(sysconf(_SC_CLK_TCK));
    const double span = (m1.atNs - m0.atNs) / 1e9;
    const double busy = double(m1.busy - m0.busy) / hz;
    qint64 ticks = self1.ticks - self0.ticks;
    for (const ProgramWindow* p : {&driver, &design, &physical})
        if (p->ran)
            ticks += p->p1.ticks - p->p0.ticks;
    return std::max(0.0, (busy - double(ticks) / hz) / span / (jiffies / hz / span) * 100.0);
}
