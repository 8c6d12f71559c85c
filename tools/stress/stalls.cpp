// The stalls: a parent that stops reading the driver's stdout or stderr.

#include "scenario.h"

#include "rig/heldpipe.h"
#include "rig/udpsender.h"

#include <QCoreApplication>
#include <QVector>
#include <unistd.h>

using namespace rig;

bool stdoutStall(double seconds)
{
    Scenario s("stdout-stall", QString::asprintf("the parent stops reading stdout for %.0f s while calls ring", seconds));
    HeldPipe fifo;
    Rig& rig = s.rig;
    // QProcess would read a pipe of its own whenever the event loop runs.
    rig.driver.redirect(STDOUT_FILENO, fifo.writeFd());
    QByteArray text;
    auto up = [&] { return rig.driver.start() && rig.answerIdentity(Identity()) && rig.waitReady(fifo, text); };
    if (!s.start("use run-stress.sh", up))
        return s.end(false);
    text.clear();
    say("  stdout pipe filled with %lld bytes of filler; now not read\n", qint64(fifo.fill().size()));

    // The shield's frames are all kept: a dial's call frame is the first after
    // fromFrame. sentAt on the shield clock; dropFrame, the preceding drop's, or -1.
    struct Dial { qint64 sentAt; int fromFrame, dropFrame; };
    QList<Dial> dials;
    QList<QByteArray> expected;
    QByteArray newest; // the last dial rung
    QVector<int> logsPerSecond(int(seconds) + 1, 0);
    int dropFrame = -1;
    const QList<ShieldPty::Frame>& frames = rig.shield.frames;
    auto pump = [&] { rig.shield.pump(); s.audio.pump(); };
    // Log lines from the start-up must not count as lines of the stall.
    rig.log.pump();
    rig.log.datagrams.clear();
    const qint64 t0 = s.now(), stallMs = qint64(seconds * 1000);
    for (int k = 0; s.now() < t0 + stallMs; ++k) {
        rig.shield.pump();
        if (k % 2 == 0) {
            const int n = 20 + (k / 2) % 200;
            dials << Dial{rig.shield.clock.elapsed(), int(frames.size()), dropFrame};
            rig.shield.sendAll(dialFrame(uint8_t(n)), [&] { rig.shield.pump(); });
            expected << (newest = "dial " + QByteArray::number(n));
        } else {
            dropFrame = frames.size();
            rig.shield.sendAll(frame(DROP, QByteArray(), true), [&] { rig.shield.pump(); });
            expected << "drop";
        }
        const qint64 next = t0 + 250 * (k + 1);
        while (s.now() < std::min(next, t0 + stallMs)) {
            pump();
            rig.log.pump();
            const int second = int((s.now() - t0) / 1000);
            if (second < logsPerSecond.size())
                logsPerSecond[second] += rig.log.datagrams.size();
            rig.log.datagrams.clear();
            spin(1);
        }
    }
    const qint64 resumed = s.now();
    waitUntil([&] { text += fifo.readAvailable(); return s.now() - resumed >= 2000; }, 3000, pump);

    // The lines written since the fill, filler taken out; past one out of
    // order the rest are only kept.
    QList<QByteArray> lines = text.split('\n'), got;
    int filler = 0, broken = lines.takeLast().isEmpty() ? 0 : 1, matched = 0, e = 0;
    bool inOrder = true;
    for (const QByteArray& l : lines) {
        if (HeldPipe::isFiller(l)) {
            ++filler;
            continue;
        }
        got << l;
        if (!inOrder)
            continue;
        if (l != "drop" && !(l.startsWith("dial ") && l.mid(5).toInt() > 0)) {
            ++broken;
            continue;
        }
        e = int(expected.indexOf(l, e)) + 1; // past its match, or 0
        inOrder = e > 0;
        matched += inOrder;
    }
    const bool newestIn = got.contains(newest);

    int prompt = 0, missing = 0, stray = 0;
    qint64 worst = 0;
    for (const Dial& d : dials) {
        for (int i = d.dropFrame; i >= 0 && i < d.fromFrame; ++i) // none before the first drop
            stray += frames.at(i).bytes == kCallFrame;
        const int call = rig.shield.find(kCallFrame, d.fromFrame);
        const qint64 took = call < 0 ? -1 : frames.at(call).atMs - d.sentAt;
        missing += took < 0;
        prompt += took >= 0 && took <= 50;
        worst = std::max(worst, took);
    }
    const int minLogs = *std::min_element(logsPerSecond.begin(), logsPerSecond.begin() + std::max(1, int(stallMs / 1000)));
    const double rate = s.rate(t0, resumed);
    const int burst = s.audio.count(resumed, resumed + 200);
    say("  rang %d calls (%d events, 4 a second); call frame on the line within 50 ms: %d, later: %d, never: %d; "
        "slowest seen %lld ms; stray call frames after drops: %d\n",
        int(dials.size()), int(expected.size()), prompt, int(dials.size()) - prompt - missing, missing, worst, stray);
    say("  audio during the stall: %d datagrams, %.1f/s, worst second %d; first 200 ms after resuming: %d\n",
        s.audio.count(t0, resumed), rate, s.worstSecond(t0, resumed), burst);
    QStringList perSecond;
    for (int i = 0; i < int(stallMs / 1000); ++i)
        perSecond << QString::number(logsPerSecond.at(i));
    say("  log datagrams per second of the stall: %s\n", qPrintable(perSecond.join(' ')));
    say("  after resuming: %d filler lines, %d status lines (%d of %d expected, in order: %s), %d broken\n",
        filler, int(got.size()), matched, int(expected.size()), inOrder ? "yes" : "no", broken);
    Verdict& r = s.bounds;
    r.check(rate >= 60, "audio during the stall: %.1f datagrams/s (bound >= 60)", rate);
    r.check(prompt == dials.size(), "call frames within 50 ms of their dial: %d of %d", prompt, int(dials.size()));
    r.check(minLogs > 0, "log datagrams in every second of the stall: fewest %d", minLogs);
    r.check(broken == 0 && inOrder && newestIn, "status lines whole and in order, newest ('%s') included: %s",
            newest.constData(), newestIn ? "included" : "missing");
    r.check(burst <= 25, "audio in the first 200 ms after resuming: %d datagrams (bound 25, twice the normal 12.5)", burst);
    return s.finish([&] { fifo.readAvailable(); pump(); });
}

bool stderrStall(qint64 count)
{
    Scenario s("stderr-stall", QString::asprintf("stderr not read, %lld datagrams of 6000 bytes to 127.0.0.1:20003", count));
    HeldPipe fifo;
    s.rig.driver.redirect(STDERR_FILENO, fifo.writeFd());
    if (!s.start())
        return s.end(false);
    const qint64 early = fifo.readAvailable().size(); // start-up messages
    const qint64 filled = fifo.fill().size();
    say("  %lld bytes of start-up stderr read; then the pipe filled with %lld bytes of filler; now not read\n", early, filled);
    const qint64 b0 = s.now();
    waitUntil([] { return false; }, 1000, s.pump);
    const qint64 t0 = s.now();

    const qint64 drops0 = UdpReceiver::portDrops(20003);
    const UdpSender parent;
    const QByteArray big(6000, '\0');
    qint64 sent = 0, failed = 0;
    while (parent.isOpen() && sent + failed < count) {
        for (int i = 0; i < 200 && sent + failed < count; ++i)
            ++(parent.send(big) ? sent : failed);
        s.pump();
        QCoreApplication::processEvents();
    }
    const qint64 t1 = s.now();
    // A short burst leaves too few datagrams for a rate: count one second at least.
    const qint64 during = std::max(t1, t0 + 1000), after = during + 2000;
    waitUntil([&] { return s.now() >= after; }, 5000, s.pump);

    const qint64 drops = UdpReceiver::portDrops(20003) - drops0;
    const qint64 asked = s.now();
    const qint64 answered = s.ask102(10000) ? s.now() : -1;
    const double rDuring = s.rate(t0, during), rAfter = s.rate(during, after);
    say("  sent %lld datagrams (%lld failed) in %.2f s; audio before: %.1f/s, during%s: %.1f/s, the 2 s after: %.1f/s\n",
        sent, failed, (t1 - t0) / 1000.0, s.rate(b0, t0), t1 - t0 < 1000 ? " (first second)" : "", rDuring, rAfter);
    if (drops0 >= 0)
        say("  of those the kernel dropped %lld at the driver's full socket: it read about %lld\n", drops, sent - drops);
    Verdict& r = s.bounds;
    r.check(rDuring >= 60, "audio during the datagram flood: %.1f/s (bound >= 60)", rDuring);
    r.check(rAfter >= 60, "audio after the datagram flood: %.1f/s (bound >= 60)", rAfter);
    r.check(answered >= 0 && answered - asked <= 1000, "answer to '7 102': %s (bound 1000 ms)",
            qPrintable(latency(asked, answered)));
    qint64 waiting = 0;
    s.endDriver([&] { waiting += fifo.readAvailable().size(); s.pump(); });
    say("  stderr bytes the driver wrote after the fill, read at the end: %lld\n", waiting - filled);
    return s.end();
}
