#include "idlewindow.h"

#include "benchoptions.h"
#include "rig/runenv.h"
#include "rig/say.h"

#include <algorithm>
#include <cstdio>
#include <unistd.h>

using namespace rig;

IdleWindow IdleWindow::record(BenchRig& rig, const QString& name, qint64 pid, const BenchOptions& o, qint64 besidePid)
{
    IdleWindow w;
    w.ran = true;
    w.name = name;
    w.pid = pid;
    rig.serveUntil(monotonicNs()); // what is already there belongs to before (audio is not kept)
    const qint64 logs0 = rig.log.received;
    const int spi0 = rig.peer.count();
    const int besideSpi0 = rig.besidePeer ? rig.besidePeer->count() : 0;
    if (o.pidReport)
        fprintf(stderr, "zma-bench: %s pid %lld: idle window of %.0f s starts now "
                        "(e.g. perf record -e cpu-clock -g -p %lld -- sleep %.0f)\n",
                qPrintable(name), pid, o.seconds, pid, o.seconds);
    w.m0 = MachineSample::take();
    w.self0 = ProcSample::take(getpid());
    w.p0 = ProcSample::take(pid);
    w.besidePid = besidePid;
    if (besidePid > 0)
        w.beside0 = ProcSample::take(besidePid);
    w.rssMin = w.rssMax = w.p0.rssKb;
    rig.audio.keep = true;
    const qint64 endNs = w.p0.atNs + qint64(o.seconds * kSec);
    for (qint64 at = w.p0.atNs + kSec; at < endNs; at += kSec) {
        rig.serveUntil(at);
        const qint64 kb = ProcSample::take(pid).rssKb; // each second
        if (kb >= 0) {
            w.rssMin = std::min(w.rssMin, kb);
            w.rssMax = std::max(w.rssMax, kb);
        }
    }
    rig.serveUntil(endNs);
    rig.audio.keep = false;
    w.p1 = ProcSample::take(pid);
    if (besidePid > 0)
        w.beside1 = ProcSample::take(besidePid);
    w.self1 = ProcSample::take(getpid());
    w.m1 = MachineSample::take();
    w.rssMin = std::min(w.rssMin, w.p1.rssKb);
    w.rssMax = std::max(w.rssMax, w.p1.rssKb);
    w.seconds = (w.p1.atNs - w.p0.atNs) / 1e9;
    w.cadence = Cadence::of(rig.audio.datagrams, kPeriodMs, kBlockBytes);
    w.spiExchanges = rig.peer.count() - spi0;
    if (rig.besidePeer)
        w.besideSpiExchanges = rig.besidePeer->count() - besideSpi0;
    w.logDatagrams = rig.log.received - logs0;
    if (o.pidReport)
        fprintf(stderr, "zma-bench: %s idle window ended\n", qPrintable(name));
    return w;
}

IdleWindow IdleWindow::ofReferenceAlone(const BenchOptions& o)
{
    say("reference: %s\n", ZMA_BENCH_REF_PATH);
    BenchRig rig;
    const auto fail = [](const QByteArray& why) { say(why); return IdleWindow(); };
    if (!rig.isBound())
        return fail("  cannot bind UDP 20002/20004 (use run-bench.sh)");
    const qint64 pid = rig.startReference(false);
    if (pid < 0 || !rig.serveUntil(monotonicNs() + 5 * kSec, [&] { return rig.audio.received > 0; }))
        return fail("  reference did not start sending");
    say("  pid %lld, sending; %.0f s to settle\n", pid, o.warmup);
    rig.serveForMs(o.warmup * 1000);
    return record(rig, "reference", pid, o);
}

double IdleWindow::othersPercent() const
{
    const double jiffies = double(m1.total - m0.total);
    if (jiffies <= 0)
        return -1;
    const double hz = double(sysconf(_SC_CLK_TCK));
    const double span = (m1.atNs - m0.atNs) / 1e9;
    const double busy = double(m1.busy - m0.busy) / hz;
    const double ours = double((p1.ticks - p0.ticks) + (self1.ticks - self0.ticks)) / hz;
    return std::max(0.0, (busy - ours) / span / (jiffies / hz / span) * 100.0);
}
