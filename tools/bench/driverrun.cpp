#include "driverrun.h"

#include "benchoptions.h"
#include "rig/runenv.h"
#include "rig/say.h"
#include "rig/shieldframes.h"

#include <algorithm>
#include <unistd.h>

using namespace rig;

void DriverRun::run(const BenchOptions& o)
{
    BenchRig rig;
    qint64 driverPid = -1, designPid = -1, physicalPid = -1;
    if (o.driver) {
        say("driver: %s against a pty shield and a SPI peer\n", ZMA_DRIVER_PATH);
        if (!rig.startDriver({}, o.warmup))
            return;
        driverPid = rig.driver.pid();
    }
    if (o.reference && !rig.isBound()) {
        say("  cannot bind UDP 20002/20004/20012/20013 (use run-bench.sh)\n");
        return;
    }
    if (o.reference) {
        say("floors beside it: %s (design) and %s --physical, each with a SPI peer of its own\n",
            ZMA_BENCH_REF_PATH, ZMA_BENCH_REF_PATH);
        designPid = rig.startFloor(rig.design);
        physicalPid = rig.startFloor(rig.physical);
        if (designPid < 0 || physicalPid < 0)
            say("  a floor did not start\n");
        say("  design floor pid %lld, physical floor pid %lld\n", designPid, physicalPid);
    }
    say("  %.0f s to settle, then the idle window of %.0f s\n", o.warmup, o.seconds);
    rig.serveForMs(o.warmup * 1000);
    if (o.driver && o.reference)
        say("  %s\n", qPrintable(rig.matchFloorsToDriver()));
    idle = IdleWindow::record(rig, o, driverPid, designPid, physicalPid);
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
