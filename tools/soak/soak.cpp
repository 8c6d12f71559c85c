#include "soak.h"

#include "rig/say.h"

#include <algorithm>
#include <numeric>

using namespace rig;

namespace {

constexpr int kPromptMs = 1000; // bound for the driver's answers at the end
constexpr qint64 kRssBoundKb = 1024;
constexpr double kCpuBound = 0.25;   // share of one core over the whole run
constexpr double kCpuBound5s = 0.50; // in any 5 s: a spin in a short fault shows here

// The first place where two line lists part, for the report.
QString firstDifference(const QList<QByteArray>& want, const QList<QByteArray>& got)
{
    for (int i = 0; i < std::max(want.size(), got.size()); ++i) {
        const QByteArray w = want.value(i, "(nothing)"), g = got.value(i, "(nothing)");
        if (w != g || i >= want.size() || i >= got.size())
            return QStringLiteral("; line %1: expected '%2', got '%3'")
                .arg(i + 1).arg(QString::fromUtf8(w), QString::fromUtf8(g));
    }
    return QString();
}

} // namespace

Soak::Soak(double minutes, quint32 seed, bool verbose)
    : runMs(qint64(minutes * 60000)), seed(seed), w(seed, verbose)
{
    // The faults; the driver's RSS and CPU, the progress line.
    w.onPump = [this] {
        faults.pump();
        const qint64 t = w.now();
        if (t >= nextRssAt) {
            nextRssAt = t + 100;
            rssMax = std::max(rssMax, w.rig.driver.rssKb());
        }
        if (t >= nextCpuAt) {
            nextCpuAt = t + 1000;
            const double cpu = w.rig.driver.cpuSeconds();
            if (cpu >= 0) {
                cpuSamples.append({t, cpu});
                while (cpuSamples.size() > 1 && t - cpuSamples.first().first > 5000)
                    cpuSamples.removeFirst();
                const auto& a = cpuSamples.first();
                if (t - a.first >= 4500)
                    busiest5s = std::max(busiest5s, (cpu - a.second) / ((t - a.first) / 1000.0));
            }
        }
        if (t >= nextProgressAt) {
            nextProgressAt += 60000;
            const int thrown = std::accumulate(std::begin(faults.thrown), std::end(faults.thrown), 0);
            say("  [%3lld min] rings %d, faults %d, audio datagrams %lld, RSS %lld KiB, CPU %.1f s\n", t / 60000,
                w.rings, thrown, w.audio.total(), w.rig.driver.rssKb(), w.rig.driver.cpuSeconds() - cpuBoot);
        }
    };
    w.betweenSteps = [this] { faults.betweenSteps(); };
}

int Soak::run()
{
    say("zma-soak: seed %u, %.1f minutes, driver %s\n", seed, runMs / 60000.0, ZMA_DRIVER_PATH);
    if (!w.start())
        return 1;
    rssBoot = w.rig.driver.rssKb();
    cpuBoot = w.rig.driver.cpuSeconds();
    fdBoot = ProcSample::fdKinds(w.rig.driver.pid());
    say("  driver pid %lld ready after %.1f s: RSS %lld KiB, %d descriptors (%s)\n", w.rig.driver.pid(),
        w.now() / 1000.0, rssBoot, ProcSample::fdCount(fdBoot), qPrintable(ProcSample::fdText(fdBoot)));
    faults.begin();
    while (!w.fatal && w.now() < runMs) {
        call();
        w.idle(w.uni(300, 3000));
        if (!w.fatal && w.chance(30) && door(w.uni(1, 2)))
            w.idle(w.uni(100, 1000));
    }
    windDown();
    finalChecks();
    return report();
}

void Soak::windDown()
{
    w.windingDown = true;
    faults.stop();
    if (w.state() != AnsweringShield::Idle)
        drop(false);
    faults.undo();
    const int exchanges = w.peer->count();
    w.await("the SPI peer exchanging again", [&] { return w.peer->count() > exchanges + 10; });
    w.await("every status line in", [&] { return w.allLinesIn(); });
    w.idle(2000, false);
}

void Soak::finalChecks()
{
    bool ok = !w.fatal;
    // Whether act brings cond within the bound, noted with the time it took.
    auto step = [&](const char* what, const std::function<void()>& act, const std::function<bool()>& cond) {
        QElapsedTimer t;
        t.start();
        act();
        const bool done = waitUntil(cond, kPromptMs, [&] { w.pump(); });
        lastChecks << QStringLiteral("%1 %2").arg(what, done ? QStringLiteral("in %1 ms").arg(t.elapsed())
                                                             : QStringLiteral("NOT within %1 ms").arg(kPromptMs));
        ok = ok && done;
        return done;
    };
    if (w.fatal)
        lastChecks << "(after a stall)";
    int n = 77;
    while (w.blocked.contains(n))
        ++n;
    w.mark();
    ++w.rings;
    const QByteArray dialLine = "dial " + QByteArray::number(n) + " 0";
    w.expCtl << dialLine;
    if (step("a ring: its dial line and call frame", [&] { w.sendLine(dialFrame(uint8_t(n))); }, [&] {
            return w.gotCtl.size() == w.expCtl.size() && w.gotCtl.last() == dialLine && w.frameSeen(kCallFrame);
        })) {
        w.mark();
        w.expCtl << "drop";
        ++w.shieldDrops;
        step("the shield's drop: its drop line", [&] { w.sendLine(frame(DROP, QByteArray(), true)); },
             [&] { return w.gotCtl.size() == w.expCtl.size(); });
    }
    w.mark();
    ++w.doorsFree;
    step("'open 1': its frame and the answer taken", [&] { w.parent("open 1"); },
         [&] { return w.frameSeen(kOpen1Frame) && w.logSeen("Success OP1"); });
    w.expCon << "#Intercom 102 supported indexes ";
    step("'7 102': its line", [&] { w.parent("7 102"); }, [&] { return w.gotCon.size() == w.expCon.size(); });
    const qint64 audio0 = w.audio.total();
    w.idle(1000, false);
    lastChecks << QStringLiteral("%1 audio datagrams in the last second (bound >= 55)").arg(w.audio.total() - audio0);
    lastChecksOk = ok && w.audio.total() - audio0 >= 55;

    DriverProcess& driver = w.rig.driver;
    rssEnd = driver.rssKb();
    rssMax = std::max(rssMax, rssEnd);
    cpuEnd = driver.cpuSeconds();
    fdEnd = ProcSample::fdKinds(driver.pid());
    w.audio.end(w.peer->count());
    w.audio.checkLine(w.peer->exchanges());
    endMs = w.now();
    driver.closeStdin();
    if (driver.waitExit(5000, [&] { w.pumpStdout(); })) {
        exitCode = driver.exitCode();
        exitedNormally = driver.exitStatus() == QProcess::NormalExit;
    }
    w.pumpStdout();
}

int Soak::report()
{
    faults.summary();
    say("calls: %d rings (%d to blocked numbers), %d picked up, doors %d in a call and %d while free; "
        "dropped by the parent %d, by the shield %d, by a hang-up %d\n",
        w.rings, w.ringsBlocked, w.pickups, w.doorsInCall, w.doorsFree, w.parentDrops, w.shieldDrops, w.hangupDrops);
    say("serial: the shield sent %d frames (%d rings, %d repeated dials while ringing, %d answers, %d drops); "
        "the driver sent %d valid frames\n", w.rings + w.repeatDials + w.shieldAnswers + w.shieldDrops, w.rings,
        w.repeatDials, w.shieldAnswers, w.shieldDrops, w.driverFrames);
    w.audio.summary(w.udpDropLines);
    say("stderr: %lld lines from the board library about the SPI peer, %lld about dropped serial bytes; "
        "log: %lld datagrams, %lld 'ERROR CMD'\n", w.spiDiag, w.serialDropLines, w.rig.log.received, w.errorCmd);
    say("figures after %.1f s:\n", endMs / 1000.0);
    for (const QString& s : w.stalls)
        say("  stalled: %s\n", qPrintable(s));
    verdict.check(w.stalls.isEmpty(), "steps: %d done, %d stalled (bound %d ms each); slowest %lld ms (%s)", w.steps,
                  int(w.stalls.size()), kStepMs, w.slowestStep, qPrintable(w.slowestWhat));
    w.audio.report(verdict);
    const qint64 collectorDrops = UdpReceiver::portDrops(20002) + UdpReceiver::portDrops(20004);
    verdict.check(collectorDrops == 0, "this tool's listeners on 20002/20004 lost %lld datagrams", collectorDrops);
    const int drops = int(w.expCtl.count("drop"));
    verdict.check(w.gotCtl == w.expCtl && w.linesLostReported == 0,
                  "status lines: %d got, %d expected (%d dial for %d rings, %d drop), compared in order; "
                  "lines the driver reported lost: %lld%s", int(w.gotCtl.size()), int(w.expCtl.size()),
                  int(w.expCtl.size()) - drops, w.rings, drops, w.linesLostReported,
                  qPrintable(firstDifference(w.expCtl, w.gotCtl)));
    verdict.check(w.gotCon == w.expCon,
                  "console replies: %d lines got, %d expected (dial plans, '7 102'), compared in order%s",
                  int(w.gotCon.size()), int(w.expCon.size()), qPrintable(firstDifference(w.expCon, w.gotCon)));
    verdict.check(w.badDriverFrames == 0 && w.unexpectedFrames == 0,
                  "frames from the driver: %d valid, %d with a bad start or checksum, %d of a kind not asked for",
                  w.driverFrames, w.badDriverFrames, w.unexpectedFrames);
    verdict.check(w.logLost == 0, "log: %lld datagrams, 'Log lines lost' total %lld", w.rig.log.received, w.logLost);
    // What the driver uses, against the figures after the warm-up where it came.
    const double seconds = endMs / 1000.0, cpu = cpuEnd - cpuBoot;
    const bool warm = faults.warmAt >= 0;
    if (!warm)
        say("  note: the run ended before every fault had come once; RSS start is the start-up figure\n");
    const qint64 rss0 = warm ? faults.rssWarm : rssBoot;
    const QString warmRss = warm ? QStringLiteral("%1 KiB after warm-up (%2 s)")
                                       .arg(rss0).arg(faults.warmAt / 1000.0, 0, 'f', 1)
                                 : QStringLiteral("no warm-up");
    verdict.check(rssEnd >= 0 && rssEnd <= rss0 + kRssBoundKb,
                  "RSS: %lld KiB at start-up, %s, %lld KiB at the end (%+lld KiB, bound +%lld), max %lld KiB", rssBoot,
                  qPrintable(warmRss), rssEnd, rssEnd - rss0, kRssBoundKb, rssMax);
    verdict.check(cpu / seconds <= kCpuBound && busiest5s <= kCpuBound5s,
                  "CPU: %.1f s in %.1f s = %.1f%% of a core (bound %.0f%%); busiest 5 s %.0f%% (bound %.0f%%)", cpu,
                  seconds, 100 * cpu / seconds, 100 * kCpuBound, 100 * busiest5s, 100 * kCpuBound5s);
    const ProcSample::FdKinds& fdWarm = faults.fdWarm;
    const ProcSample::FdKinds& fdRef = fdWarm.empty() ? fdBoot : fdWarm;
    const QString warmFds = fdWarm.empty() ? QStringLiteral("no warm-up")
                                           : QStringLiteral("%1 after warm-up").arg(ProcSample::fdCount(fdWarm));
    verdict.check(fdEnd == fdRef && fdBoot == fdRef, "descriptors: %d at start-up, %s, %d at the end (%s)",
                  ProcSample::fdCount(fdBoot), qPrintable(warmFds), ProcSample::fdCount(fdEnd),
                  qPrintable(ProcSample::fdText(fdEnd)));
    if (fdEnd != fdRef || fdBoot != fdRef)
        say("        start-up: %s\n        warm-up:  %s\n", qPrintable(ProcSample::fdText(fdBoot)),
            qPrintable(ProcSample::fdText(fdWarm)));
    verdict.check(lastChecksOk, "the driver answers at the end: %s", qPrintable(lastChecks.join("; ")));
    verdict.check(exitedNormally && exitCode == 0, "end of input: the driver exited %s with status %d",
                  exitedNormally ? "normally" : "abnormally (or not at all)", exitCode);
    say("zma-soak: %s (seed %u)\n", verdict.allPassed() ? "PASS" : "FAIL", seed);
    return verdict.allPassed() ? 0 : 1;
}

// One call: rung, maybe a door while ringing, then picked up and talked
// through or dropped by either side; faults may come between any two steps,
// and a hang-up ends the call on its own.
void Soak::call()
{
    if (!ring())
        return;
    auto still = [&](int lo, int hi) {
        w.idle(w.uni(lo, hi));
        return !w.stopping() && w.state() != AnsweringShield::Idle;
    };
    if (!still(200, 2500) || (w.chance(20) && (!door(w.uni(1, 2)) || !still(100, 1500))))
        return;
    const int end = w.uni(1, 100);
    if (end <= 30) {
        drop(end <= 15);
        return;
    }
    if (!pickup() || !still(200, 3000))
        return;
    for (int doors = w.uni(0, 3); doors > 0; --doors)
        if (!door(w.uni(1, 2)) || !still(100, 2000))
            return;
    drop(w.chance(60));
}

bool Soak::ring()
{
    const bool block = !w.blocked.isEmpty() && w.chance(25);
    const QList<int> list = w.blocked.values();
    int n = block ? list.at(w.uni(0, list.size() - 1)) : w.uni(1, 200);
    while (!block && w.blocked.contains(n))
        n = w.uni(1, 200);
    w.mark();
    ++w.rings;
    w.expCtl << "dial " + QByteArray::number(n) + " 0";
    w.sendLine(dialFrame(uint8_t(n)));
    if (block) {
        ++w.ringsBlocked;
        w.expCtl << "drop";
        w.await("a blocked ring refused", [&] { return w.logSeen("isBlockPhone Drop"); });
        return false;
    }
    if (!w.await("call frame after a ring", [&] { return w.logSeen("STATUS_FREE Dial") && w.frameSeen(kCallFrame); }))
        return false;
    w.answering.ring(uint8_t(n)); // the line rings: its dial repeats
    w.nextDialAt = w.now() + 1000;
    return true;
}

bool Soak::door(int which)
{
    // While ringing the door frame waits for the shield's next dial.
    const bool free = w.state() == AnsweringShield::Idle;
    const QByteArray wantFrame = free ? (which == 1 ? kOpen1Frame : kOpen2Frame)
                                      : frame(which == 1 ? OPEN_1 : OPEN_2, QByteArray(), true);
    const QByteArray wantLog = free ? "Success OP" + QByteArray::number(which)
                                    : QByteArray(w.state() == AnsweringShield::Ringing ? "STATUS_CALL" : "STATUS_PICKUP")
                                          + " Открыта дверь " + QByteArray::number(which);
    ++(free ? w.doorsFree : w.doorsInCall);
    w.mark();
    w.parent("open " + QByteArray::number(which));
    return w.await("door frame and its answer", [&] { return w.frameSeen(wantFrame) && w.logSeen(wantLog); });
}

bool Soak::pickup()
{
    w.mark();
    ++w.pickups;
    w.parent("pickup");
    return w.await("pickup frame and the shield's answer",
                   [&] { return w.frameSeen(kPickupFrame) && w.logSeen("STATUS_CALL pickup"); });
}

bool Soak::drop(bool byParent)
{
    const QByteArray wantLog = w.state() == AnsweringShield::Ringing ? "STATUS_CALL Drop" : "STATUS_PICKUP Drop";
    w.mark();
    w.expCtl << "drop";
    if (byParent) {
        ++w.parentDrops;
        w.parent("drop");
        return w.await("drop frame and the shield's answer",
                       [&] { return w.frameSeen(kDropFrame) && w.logSeen(wantLog); });
    }
    ++w.shieldDrops;
    w.sendLine(w.answering.hangUp());
    return w.await("the shield's drop handled", [&] { return w.logSeen(wantLog); });
}
