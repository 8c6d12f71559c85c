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
    say("driver: %s against a pty shield and a SPI peer\n", ZMA_DRIVER_PATH);
    BenchRig rig;
    if (!rig.startDriver({}, o.warmup))
        return;
    const qint64 besidePid = rig.startReference(true);
    rig.serveForMs(o.warmup * 1000);
    idle = IdleWindow::record(rig, "driver", rig.driver.pid(), o, besidePid);
    rig.stopBeside();
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
