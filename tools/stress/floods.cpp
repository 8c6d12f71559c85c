// The floods: of the serial line with valid frames and with junk, and of
// stdin with commands.

#include "scenario.h"

#include <QRandomGenerator>

using namespace rig;

bool lineFlood(double seconds)
{
    Scenario s("line-flood", QString::asprintf("%.0f s of ignored frames (22) at the line rate of 115200 8N1", seconds));
    if (!s.start())
        return s.end(false);
    const QByteArray idle = frame(OPEN_1_FREE_DONE), dial12 = dialFrame(12), drop = frame(DROP, QByteArray(), true);
    const double fps = 115200.0 / 10.0 / 10.0; // 10 bits a byte, 10 bytes a frame
    const qint64 ms = qint64(seconds * 1000);
    QList<QByteArray> queue; // frames that take the next slots of the flood
    qint64 slot = 0, skipped = 0, frames = 0, shortWrites = 0, dial12Sent = -1, dial12Seen = -1;
    bool dropQueued = false;
    s.rssBegin();
    const double cpu0 = s.rig.driver.cpuSeconds();
    QElapsedTimer line;
    line.start();
    const qint64 t0 = s.now();
    auto pump = [&] {
        if (dial12Sent >= 0 && dial12Seen < 0 && s.said("dial 12\n"))
            dial12Seen = line.elapsed();
        s.pump();
    };
    while (line.elapsed() < ms) {
        if (dial12Sent < 0 && queue.isEmpty() && line.elapsed() >= ms / 2) // not queued yet
            queue << dial12;
        // Paced by the clock; a late loop catches up by at most ~20 ms of
        // frames, so the line never runs faster than a real one could.
        const qint64 due = qint64(double(line.nsecsElapsed()) * fps / 1e9);
        const qint64 late = std::max<qint64>(0, due - slot - 24);
        skipped += late;
        slot += late;
        // The dial is queued alone, so it comes first.
        const bool withDial = slot < due && !queue.isEmpty() && queue.first() == dial12;
        QByteArray batch;
        for (; slot < due; ++slot, ++frames)
            batch += queue.isEmpty() ? idle : queue.takeFirst();
        if (!batch.isEmpty() && !s.rig.shield.send(batch))
            ++shortWrites; // the pty is full: frames may be cut, see the note below
        if (withDial)
            dial12Sent = line.elapsed();
        if (dial12Sent >= 0 && !dropQueued && (dial12Seen >= 0 || line.elapsed() - dial12Sent > 5000)) {
            queue << drop;
            dropQueued = true;
        }
        pump();
        spin(1);
    }
    const qint64 floodMs = line.elapsed(), t1 = s.now();
    const qint64 rssEnd = s.rssSample();
    const double cpu1 = s.rig.driver.cpuSeconds();
    // What the flood had no room for goes first (the drop frees the line for the next call).
    if (!dropQueued)
        queue << drop;
    s.rig.shield.sendAll(queue.join() + dialFrame(13), pump);
    const qint64 dial13Sent = line.elapsed();
    const qint64 dial13Seen = waitUntil([&] { return s.said("dial 13\n"); }, 30000, pump) ? line.elapsed() : -1;

    say("  flood: %lld frames in %.1f s = %.0f frames/s (%lld slots skipped, %lld short writes)\n",
        frames, floodMs / 1000.0, frames * 1000.0 / double(floodMs), skipped, shortWrites);
    if (shortWrites > 0)
        say("  note: the driver let the pty fill up; cut frames may have spoilt the dial figures\n");
    s.rssPrint();
    say("  driver CPU during the flood: %.1f s\n", cpu1 - cpu0);
    const double rate = s.rate(t0, t1);
    say("  audio on 20002 during the flood: %d datagrams, %.1f/s, worst second %d\n",
        s.audio.count(t0, t1), rate, s.worstSecond(t0, t1));
    Verdict& r = s.bounds;
    r.check(rssEnd - s.rssStart <= 2048, "RSS at flood end - at flood start: %+lld KiB (bound +2048)", rssEnd - s.rssStart);
    r.check(dial12Seen >= 0 && dial12Seen - dial12Sent <= 100, "'dial 12' mid-flood: %s (bound 100 ms)",
            qPrintable(latency(dial12Sent, dial12Seen)));
    r.check(dial13Seen >= 0 && dial13Seen - dial13Sent <= 100, "'dial 13' after the flood: %s (bound 100 ms)",
            qPrintable(latency(dial13Sent, dial13Seen)));
    r.check(rate >= 60, "audio during the flood: %.1f datagrams/s (bound >= 60)", rate);
    return s.finish(pump);
}

bool junkFlood(double seconds)
{
    Scenario s("junk-flood", QString::asprintf("%.0f s of random bytes, as fast as the pty takes them", seconds));
    if (!s.start())
        return s.end(false);
    constexpr int kChunk = 4096, kPool = 1 << 20;
    QByteArray pool(kPool + kChunk, Qt::Uninitialized);
    QRandomGenerator(20240).fillRange(reinterpret_cast<quint32*>(pool.data()), pool.size() / 4);
    qint64 accepted = 0, refused = 0, at = 0;
    s.rssBegin();
    const double cpu0 = s.rig.driver.cpuSeconds();
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < qint64(seconds * 1000)) {
        for (int i = 0; i < 64; ++i, accepted += kChunk, at = (at + kChunk) % kPool)
            if (!s.rig.shield.send(pool.mid(int(at), kChunk))) {
                ++refused; // full (or taken in part): try again after a pause
                break;
            }
        s.pump();
        spin(1);
    }
    const qint64 junkMs = t.elapsed();
    s.rssSample();
    const double cpu1 = s.rig.driver.cpuSeconds();
    // Junk may have formed a valid frame and left a call up: the drop ends
    // it (and is ignored when there is none), then apartment 77 rings.
    const qint64 sent = t.elapsed();
    s.rig.shield.sendAll(frame(DROP, QByteArray(), true) + dialFrame(77), s.pump);
    const qint64 inPty = t.elapsed();
    const qint64 seen = waitUntil([&] { return s.said("dial 77\n"); }, 30000, s.pump) ? t.elapsed() : -1;
    s.rssSample();

    say("  junk: >= %.1f MiB in %.1f s = %.2f MiB/s taken by the pty (%lld refused or partial writes)\n",
        accepted / 1048576.0, junkMs / 1000.0, accepted / 1048576.0 / (junkMs / 1000.0), refused);
    say("  the dial after the junk waited %lld ms for room in the pty\n", inPty - sent);
    s.rssPrint();
    say("  driver CPU during the junk: %.1f s\n", cpu1 - cpu0);
    s.bounds.check(s.rssPeak - s.rssStart <= 4096, "RSS peak - start: %+lld KiB (bound +4096)", s.rssPeak - s.rssStart);
    s.bounds.check(seen >= 0 && seen - sent <= 200, "'dial 77' after the junk stopped: %s (bound 200 ms)",
                   qPrintable(latency(sent, seen)));
    return s.finish(s.pump);
}

bool commandFlood(qint64 count)
{
    Scenario s("command-flood",
               QString::asprintf("%lld lines 'open 1' on stdin as fast as the pipe takes them, shield silent", count));
    if (!s.start())
        return s.end(false);
    constexpr int kLinesPerChunk = 8192;
    const QByteArray chunk = QByteArray("open 1\n").repeated(kLinesPerChunk);
    ChildProcess& in = s.rig.driver.proc;
    s.rssBegin();
    QElapsedTimer t;
    t.start();
    qint64 queued = 0, progressAt = 0, lastTaken = -1;
    bool stuck = false;
    while (queued < count || in.bytesToWrite() > 0) {
        for (qint64 n; queued < count && in.bytesToWrite() < (1 << 20); queued += n) {
            n = std::min<qint64>(kLinesPerChunk, count - queued);
            in.write(chunk.constData(), n * 7);
        }
        const qint64 taken = queued * 7 - in.bytesToWrite();
        if (taken != lastTaken) {
            lastTaken = taken;
            progressAt = t.elapsed();
        } else if (t.elapsed() - progressAt > 60000 || !s.rig.driver.running()) {
            stuck = true;
            break;
        }
        s.pump();
        spin(1);
    }
    const qint64 writtenAt = t.elapsed();
    lastTaken = queued * 7 - in.bytesToWrite();
    s.rssSample();
    say("  %s %lld of %lld bytes in %.1f s (%.1f MiB/s)\n", stuck ? "stopped: the driver took" : "written:",
        lastTaken, count * 7, writtenAt / 1000.0, lastTaken / 1048576.0 / std::max<qint64>(writtenAt, 1) * 1000.0);
    const qint64 answered = !stuck && s.ask102(30000) ? t.elapsed() : -1;
    s.rssSample();
    s.rssPrint();
    s.bounds.check(s.rssPeak - s.rssStart <= 4096, "RSS peak - start: %+lld KiB (bound +4096)", s.rssPeak - s.rssStart);
    s.bounds.check(answered >= 0, "answer to '7 102' after the flood was written: %s (bound 30 s)",
                   qPrintable(latency(writtenAt, answered)));
    return s.finish(s.pump);
}
