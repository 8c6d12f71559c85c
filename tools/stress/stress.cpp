// zma-stress: runs the built zma-driver against a fake shield under floods
// and stalls, prints what it measured and a PASS/FAIL line per scenario.
// The driver binds fixed UDP ports: run it through run-stress.sh, which gives
// it a private network namespace.

#include "rig/say.h"
#include "rig/heldpipe.h"
#include "rig/rig.h"

#include <QCoreApplication>
#include <QFile>
#include <QRandomGenerator>
#include <QVector>
#include <arpa/inet.h>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace rig;

namespace {

// Bounds of one scenario; any failed bound fails it.
struct Report {
    bool pass = true;
    void bound(bool ok, const char* fmt, ...) __attribute__((format(printf, 3, 4)))
    {
        printf("  %-5s", ok ? "ok" : "FAIL");
        va_list ap;
        va_start(ap, fmt);
        vprintf(fmt, ap);
        va_end(ap);
        printf("\n");
        fflush(stdout);
        pass = pass && ok;
    }
};

// Audio datagrams from the driver, stamped on this meter's clock. The
// collector's own clock starts a moment earlier: well under a millisecond.
struct AudioMeter {
    UdpReceiver udp{20002};
    QElapsedTimer clock;
    AudioMeter() { clock.start(); }
    qint64 now() const { return clock.elapsed(); }
    void pump() { udp.pump(); }
    int count(qint64 from, qint64 to)
    {
        pump();
        int n = 0;
        for (const auto& d : udp.datagrams)
            n += d.atMs >= from && d.atMs < to;
        return n;
    }
    double rate(qint64 from, qint64 to) { return to > from ? count(from, to) * 1000.0 / double(to - from) : 0; }
    // Fewest datagrams in any whole second of the span; -1 if none fits.
    int worstSecond(qint64 from, qint64 to)
    {
        int worst = INT_MAX;
        for (qint64 s = from; s + 1000 <= to; s += 1000)
            worst = std::min(worst, count(s, s + 1000));
        return worst == INT_MAX ? -1 : worst;
    }
};

// VmRSS of the driver, sampled every 100 ms by tick(), so that a short
// peak is not missed between samples.
struct Rss {
    const DriverProcess& d;
    QElapsedTimer t;
    qint64 start, peak, last, next = 100;
    explicit Rss(const DriverProcess& dp) : d(dp) { t.start(); start = peak = last = d.rssKb(); }
    void sample()
    {
        const qint64 kb = d.rssKb();
        if (kb >= 0) {
            last = kb;
            peak = std::max(peak, kb);
        }
    }
    void tick()
    {
        if (t.elapsed() >= next) {
            sample();
            next += 100;
        }
    }
    void print() const { say("  RSS: %lld KiB at start, peak %lld KiB, last %lld KiB\n", start, peak, last); }
};

// Stdout lines that arrive after the start-up block.
struct LineWatch {
    DriverProcess& d;
    int from;
    explicit LineWatch(DriverProcess& dp) : d(dp), from(std::max(0, int(dp.stdoutBytes().size()) - 1)) {}
    bool has(const QByteArray& text) { return d.stdoutBytes().indexOf("\n" + text, from) >= 0; }
};

// Puts bytes on the line whole even when the pty is full (a one-byte write
// is all or nothing); false if they did not get in within timeoutMs.
bool sendAll(ShieldPty& pty, const QByteArray& bytes, const std::function<void()>& pump, int timeoutMs = 30000)
{
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < bytes.size();) {
        if (pty.send(bytes.mid(i, 1))) {
            ++i;
        } else {
            if (t.elapsed() > timeoutMs)
                return false;
            pump();
            spin(1);
        }
    }
    return true;
}

// Datagrams the kernel dropped at the driver's audio socket (UDP port
// 20003) for want of room: what the driver never got to read. -1 if unknown.
qint64 udpDrops20003()
{
    QFile f("/proc/net/udp");
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() > 12 && fields.at(1).endsWith(":4E23"))
            return fields.last().toLongLong();
    }
    return -1;
}

bool startRig(Rig& rig, AudioMeter& audio)
{
    if (!audio.udp.isBound() || !rig.log.isBound()) {
        say("  FAIL  cannot bind UDP 20002/20004 (another driver running? use run-stress.sh)\n");
        return false;
    }
    if (!rig.start()) {
        say("  FAIL  driver did not reach shield_ready\n");
        return false;
    }
    return true;
}

// Ends the driver the normal way: end of input.
void finish(Rig& rig, const std::function<void()>& pump = {})
{
    rig.driver.closeStdin();
    if (waitUntil([&] { return !rig.driver.running(); }, 5000, pump))
        say("  driver exited with status %d after end of input\n", rig.driver.exitCode());
    else
        say("  driver still running 5 s after end of input (killed)\n");
}

QString latency(qint64 sent, qint64 seen)
{
    return seen >= 0 ? QString("%1 ms").arg(seen - sent) : QString("not seen");
}

bool verdict(const char* name, const Report& r)
{
    say("%s: %s\n\n", name, r.pass ? "PASS" : "FAIL");
    return r.pass;
}

// ------------------------------------------------------------ line-flood

bool lineFlood(double seconds)
{
    say("line-flood: %.0f s of ignored frames (22) at the line rate of 115200 8N1\n", seconds);
    AudioMeter audio;
    Rig rig;
    Report r;
    if (!startRig(rig, audio))
        return verdict("line-flood", Report{false});
    LineWatch out(rig.driver);
    const QByteArray idle = frame(OPEN_1_FREE_DONE);
    const QByteArray dial12 = dialFrame(12), drop = frame(DROP, QByteArray(), true);
    const double fps = 115200.0 / 10.0 / 10.0; // 10 bits a byte, 10 bytes a frame
    const qint64 ms = qint64(seconds * 1000);
    QList<QByteArray> queue; // frames that take the next slots of the flood
    qint64 slot = 0, skipped = 0, frames = 0, shortWrites = 0;
    qint64 dial12Sent = -1, dial12Seen = -1;
    bool dialQueued = false, dropQueued = false;
    Rss rss(rig.driver);
    const double cpu0 = rig.driver.cpuSeconds();
    QElapsedTimer line;
    line.start();
    const qint64 t0 = audio.now();
    auto pump = [&] {
        if (dial12Sent >= 0 && dial12Seen < 0 && out.has("dial 12\n"))
            dial12Seen = line.elapsed();
        rig.shield.pump();
        rig.shield.frames.clear();
        audio.pump();
        rss.tick();
    };
    while (line.elapsed() < ms) {
        if (!dialQueued && line.elapsed() >= ms / 2) {
            queue << dial12;
            dialQueued = true;
        }
        // Paced by the clock; a late loop catches up by at most ~20 ms of
        // frames, so the line never runs faster than a real one could.
        const qint64 due = qint64(double(line.nsecsElapsed()) * fps / 1e9);
        if (due - slot > 24) {
            skipped += due - slot - 24;
            slot = due - 24;
        }
        QByteArray batch;
        bool withDial = false;
        for (; slot < due; ++slot, ++frames) {
            const QByteArray f = queue.isEmpty() ? idle : queue.takeFirst();
            withDial = withDial || f == dial12;
            batch += f;
        }
        if (!batch.isEmpty() && !rig.shield.send(batch))
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
    const qint64 floodMs = line.elapsed(), t1 = audio.now();
    rss.sample();
    const qint64 rssEnd = rss.last;
    const double cpu1 = rig.driver.cpuSeconds();
    // What the flood had no room for goes first (the drop frees the line for the next call).
    QByteArray rest;
    for (const QByteArray& f : queue)
        rest += f;
    if (!dropQueued)
        rest += drop;
    sendAll(rig.shield, rest + dialFrame(13), pump);
    const qint64 dial13Sent = line.elapsed();
    qint64 dial13Seen = -1;
    waitUntil([&] { return out.has("dial 13\n"); }, 30000, pump);
    if (out.has("dial 13\n"))
        dial13Seen = line.elapsed();

    say("  flood: %lld frames in %.1f s = %.0f frames/s (%lld slots skipped, %lld short writes)\n",
        frames, floodMs / 1000.0, frames * 1000.0 / double(floodMs), skipped, shortWrites);
    if (shortWrites > 0)
        say("  note: the driver let the pty fill up; cut frames may have spoilt the dial figures\n");
    rss.print();
    say("  driver CPU during the flood: %.1f s\n", cpu1 - cpu0);
    const double rate = audio.rate(t0, t1);
    say("  audio on 20002 during the flood: %d datagrams, %.1f/s, worst second %d\n",
        audio.count(t0, t1), rate, audio.worstSecond(t0, t1));
    r.bound(rssEnd - rss.start <= 2048, "RSS at flood end - at flood start: %+lld KiB (bound +2048)", rssEnd - rss.start);
    r.bound(dial12Seen >= 0 && dial12Seen - dial12Sent <= 100, "'dial 12' mid-flood: %s (bound 100 ms)",
            qPrintable(latency(dial12Sent, dial12Seen)));
    r.bound(dial13Seen >= 0 && dial13Seen - dial13Sent <= 100, "'dial 13' after the flood: %s (bound 100 ms)",
            qPrintable(latency(dial13Sent, dial13Seen)));
    r.bound(rate >= 60, "audio during the flood: %.1f datagrams/s (bound >= 60)", rate);
    finish(rig, pump);
    return verdict("line-flood", r);
}

// ------------------------------------------------------------ junk-flood

bool junkFlood(double seconds)
{
    say("junk-flood: %.0f s of random bytes, as fast as the pty takes them\n", seconds);
    AudioMeter audio;
    Rig rig;
    Report r;
    if (!startRig(rig, audio))
        return verdict("junk-flood", Report{false});
    LineWatch out(rig.driver);
    constexpr int kChunk = 4096, kPool = 1 << 20;
    QVector<quint32> words((kPool + kChunk) / 4);
    QRandomGenerator(20240).fillRange(words.data(), words.size());
    const QByteArray pool(reinterpret_cast<const char*>(words.constData()), words.size() * 4);
    qint64 accepted = 0, refused = 0, at = 0;
    Rss rss(rig.driver);
    const double cpu0 = rig.driver.cpuSeconds();
    auto pump = [&] {
        rig.shield.pump();
        rig.shield.frames.clear();
        audio.pump();
        rss.tick();
    };
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < qint64(seconds * 1000)) {
        for (int i = 0; i < 64; ++i) {
            if (!rig.shield.send(pool.mid(int(at), kChunk))) {
                ++refused; // full (or taken in part): try again after a pause
                break;
            }
            accepted += kChunk;
            at = (at + kChunk) % kPool;
        }
        pump();
        spin(1);
    }
    const qint64 junkMs = t.elapsed();
    rss.sample();
    const double cpu1 = rig.driver.cpuSeconds();
    // Junk may have formed a valid frame and left a call up: the drop ends
    // it (and is ignored when there is none), then apartment 77 rings.
    const qint64 sent = t.elapsed();
    sendAll(rig.shield, frame(DROP, QByteArray(), true) + dialFrame(77), pump);
    const qint64 inPty = t.elapsed();
    qint64 seen = -1;
    if (waitUntil([&] { return out.has("dial 77\n"); }, 30000, pump))
        seen = t.elapsed();
    rss.sample();

    say("  junk: >= %.1f MiB in %.1f s = %.2f MiB/s taken by the pty (%lld refused or partial writes)\n",
        accepted / 1048576.0, junkMs / 1000.0, accepted / 1048576.0 / (junkMs / 1000.0), refused);
    say("  the dial after the junk waited %lld ms for room in the pty\n", inPty - sent);
    rss.print();
    say("  driver CPU during the junk: %.1f s\n", cpu1 - cpu0);
    r.bound(rss.peak - rss.start <= 4096, "RSS peak - start: %+lld KiB (bound +4096)", rss.peak - rss.start);
    r.bound(seen >= 0 && seen - sent <= 200, "'dial 77' after the junk stopped: %s (bound 200 ms)",
            qPrintable(latency(sent, seen)));
    finish(rig, pump);
    return verdict("junk-flood", r);
}

// ------------------------------------------------------------ stdout-stall

bool stdoutStall(double seconds)
{
    say("stdout-stall: the parent stops reading stdout for %.0f s while calls ring\n", seconds);
    AudioMeter audio;
    Rig rig;
    Report r;
    HeldPipe fifo;
    if (!audio.udp.isBound() || !rig.log.isBound()) {
        say("  FAIL  cannot bind UDP 20002/20004 (use run-stress.sh)\n");
        return verdict("stdout-stall", Report{false});
    }
    // QProcess would read a pipe of its own whenever the event loop runs.
    rig.driver.redirect(STDOUT_FILENO, fifo.writeFd());
    QByteArray text;
    if (!rig.driver.start() || !rig.answerIdentity(Identity())
        || !waitUntil([&] { text += fifo.readAvailable(); return text.contains("\nshield_ready\n\n"); }, kWait)) {
        say("  FAIL  driver did not reach shield_ready\n");
        return verdict("stdout-stall", Report{false});
    }
    text.clear();
    const qint64 filled = fifo.fill().size();
    say("  stdout pipe filled with %lld bytes of filler; now not read\n", filled);

    struct Dial {
        int number;
        qint64 sentAt;    // shield clock
        int fromFrame;
        qint64 callAt;    // first call frame after it, or -1
        int strayBefore;  // call frames between the preceding drop and this dial
    };
    QList<Dial> dials;
    QList<QByteArray> expected;
    QVector<int> logsPerSecond(int(seconds) + 1, 0);
    int dropFrame = -1; // frame index when the last drop was sent
    auto pumpShield = [&] {
        rig.shield.pump();
        for (Dial& d : dials)
            for (int i = d.fromFrame; d.callAt < 0 && i < rig.shield.frames.size(); ++i)
                if (rig.shield.frames.at(i).bytes == kCallFrame)
                    d.callAt = rig.shield.frames.at(i).atMs;
    };
    auto pump = [&] {
        pumpShield();
        audio.pump();
    };
    // Log lines from the start-up must not count as lines of the stall.
    rig.log.pump();
    rig.log.datagrams.clear();
    const qint64 t0 = audio.now(), stallMs = qint64(seconds * 1000);
    for (int k = 0; audio.now() < t0 + stallMs; ++k) {
        pumpShield();
        if (k % 2 == 0) {
            const int n = 20 + (k / 2) % 200;
            int stray = 0;
            for (int i = std::max(0, dropFrame); dropFrame >= 0 && i < rig.shield.frames.size(); ++i)
                stray += rig.shield.frames.at(i).bytes == kCallFrame;
            dials << Dial{n, rig.shield.clock.elapsed(), int(rig.shield.frames.size()), -1, stray};
            sendAll(rig.shield, dialFrame(uint8_t(n)), pumpShield);
            expected << "dial " + QByteArray::number(n);
        } else {
            dropFrame = rig.shield.frames.size();
            sendAll(rig.shield, frame(DROP, QByteArray(), true), pumpShield);
            expected << "drop";
        }
        const qint64 next = t0 + 250 * (k + 1);
        while (audio.now() < std::min(next, t0 + stallMs)) {
            pump();
            rig.log.pump();
            const int second = int((audio.now() - t0) / 1000);
            if (second < logsPerSecond.size())
                logsPerSecond[second] += rig.log.datagrams.size();
            rig.log.datagrams.clear();
            spin(1);
        }
    }
    const qint64 resumed = audio.now();
    waitUntil([&] { text += fifo.readAvailable(); return audio.now() - resumed >= 2000; }, 3000, pump);

    // The lines written since the fill, filler taken out.
    QList<QByteArray> lines = text.split('\n');
    const QByteArray tail = lines.takeLast();
    int filler = 0, broken = tail.isEmpty() ? 0 : 1, matched = 0;
    bool inOrder = true;
    QList<QByteArray> got;
    for (const QByteArray& l : lines) {
        if (!l.isEmpty() && l.count('~') == l.size())
            ++filler;
        else
            got << l;
    }
    int e = 0;
    for (const QByteArray& l : got) {
        const bool known = l == "drop" || (l.startsWith("dial ") && l.mid(5).toInt() > 0);
        if (!known) {
            ++broken;
            continue;
        }
        while (e < expected.size() && expected.at(e) != l)
            ++e;
        if (e == expected.size()) {
            inOrder = false;
            break;
        }
        ++matched;
        ++e;
    }
    QByteArray newest;
    for (const QByteArray& l : expected)
        if (l.startsWith("dial "))
            newest = l;
    const bool newestIn = got.contains(newest);

    int prompt = 0, late = 0, missing = 0, stray = 0;
    qint64 worst = 0;
    for (const Dial& d : dials) {
        stray += d.strayBefore;
        if (d.callAt < 0)
            ++missing;
        else if (d.callAt - d.sentAt <= 50)
            ++prompt;
        else
            ++late;
        if (d.callAt >= 0)
            worst = std::max(worst, d.callAt - d.sentAt);
    }
    const int minLogs = *std::min_element(logsPerSecond.begin(), logsPerSecond.begin() + std::max(1, int(stallMs / 1000)));
    const double rate = audio.rate(t0, resumed);
    const int burst = audio.count(resumed, resumed + 200);
    say("  rang %d calls (%d events, 4 a second); call frame on the line within 50 ms: %d, later: %d, never: %d; "
        "slowest seen %lld ms; stray call frames after drops: %d\n",
        int(dials.size()), int(expected.size()), prompt, late, missing, worst, stray);
    say("  audio during the stall: %d datagrams, %.1f/s, worst second %d; first 200 ms after resuming: %d\n",
        audio.count(t0, resumed), rate, audio.worstSecond(t0, resumed), burst);
    QStringList perSecond;
    for (int i = 0; i < int(stallMs / 1000); ++i)
        perSecond << QString::number(logsPerSecond.at(i));
    say("  log datagrams per second of the stall: %s\n", qPrintable(perSecond.join(' ')));
    say("  after resuming: %d filler lines, %d status lines (%d of %d expected, in order: %s), %d broken\n",
        filler, int(got.size()), matched, int(expected.size()), inOrder ? "yes" : "no", broken);
    r.bound(rate >= 60, "audio during the stall: %.1f datagrams/s (bound >= 60)", rate);
    r.bound(prompt == dials.size(), "call frames within 50 ms of their dial: %d of %d", prompt, int(dials.size()));
    r.bound(minLogs > 0, "log datagrams in every second of the stall: fewest %d", minLogs);
    r.bound(broken == 0 && inOrder && newestIn, "status lines whole and in order, newest ('%s') included: %s",
            newest.constData(), newestIn ? "included" : "missing");
    r.bound(burst <= 25, "audio in the first 200 ms after resuming: %d datagrams (bound 25, twice the normal 12.5)", burst);
    finish(rig, [&] { fifo.readAvailable(); pump(); });
    return verdict("stdout-stall", r);
}

// ------------------------------------------------------------ stderr-stall

bool stderrStall(qint64 count)
{
    say("stderr-stall: stderr not read, %lld datagrams of 6000 bytes to 127.0.0.1:20003\n", count);
    AudioMeter audio;
    Rig rig;
    Report r;
    HeldPipe fifo;
    rig.driver.redirect(STDERR_FILENO, fifo.writeFd());
    if (!startRig(rig, audio))
        return verdict("stderr-stall", Report{false});
    LineWatch out(rig.driver);
    const qint64 early = fifo.readAvailable().size(); // start-up messages
    const qint64 filled = fifo.fill().size();
    say("  %lld bytes of start-up stderr read; then the pipe filled with %lld bytes of filler; now not read\n", early, filled);
    auto pump = [&] {
        rig.shield.pump();
        rig.shield.frames.clear();
        audio.pump();
    };
    const qint64 b0 = audio.now();
    waitUntil([] { return false; }, 1000, pump);
    const qint64 t0 = audio.now();

    const qint64 drops0 = udpDrops20003();
    const int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(20003);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const QByteArray big(6000, '\0');
    qint64 sent = 0, failed = 0;
    while (s >= 0 && sent + failed < count) {
        for (int i = 0; i < 200 && sent + failed < count; ++i) {
            if (::sendto(s, big.constData(), size_t(big.size()), 0, reinterpret_cast<const sockaddr*>(&to), sizeof(to)) == big.size())
                ++sent;
            else
                ++failed;
        }
        pump();
        QCoreApplication::processEvents();
    }
    if (s >= 0)
        ::close(s);
    const qint64 t1 = audio.now();
    // A short burst leaves too few datagrams for a rate: count one second at least.
    const qint64 during = std::max(t1, t0 + 1000);
    waitUntil([&] { return audio.now() >= during + 2000; }, 5000, pump);
    const qint64 after = during + 2000;

    const qint64 drops = udpDrops20003() - drops0;
    const qint64 asked = audio.now();
    rig.driver.proc.write("7 102\n");
    qint64 answered = -1;
    if (waitUntil([&] { return out.has("#Intercom 102 supported indexes"); }, 10000, pump))
        answered = audio.now();
    const double rDuring = audio.rate(t0, during), rAfter = audio.rate(during, after);
    say("  sent %lld datagrams (%lld failed) in %.2f s; audio before: %.1f/s, during%s: %.1f/s, the 2 s after: %.1f/s\n",
        sent, failed, (t1 - t0) / 1000.0, audio.rate(b0, t0), t1 - t0 < 1000 ? " (first second)" : "", rDuring, rAfter);
    if (drops0 >= 0)
        say("  of those the kernel dropped %lld at the driver's full socket: it read about %lld\n", drops, sent - drops);
    r.bound(rDuring >= 60, "audio during the datagram flood: %.1f/s (bound >= 60)", rDuring);
    r.bound(rAfter >= 60, "audio after the datagram flood: %.1f/s (bound >= 60)", rAfter);
    r.bound(answered >= 0 && answered - asked <= 1000, "answer to '7 102': %s (bound 1000 ms)",
            qPrintable(latency(asked, answered)));
    qint64 waiting = 0;
    finish(rig, [&] { waiting += fifo.readAvailable().size(); pump(); });
    say("  stderr bytes the driver wrote after the fill, read at the end: %lld\n", waiting - filled);
    return verdict("stderr-stall", r);
}

// ------------------------------------------------------------ command-flood

bool commandFlood(qint64 count)
{
    say("command-flood: %lld lines 'open 1' on stdin as fast as the pipe takes them, shield silent\n", count);
    AudioMeter audio;
    Rig rig;
    Report r;
    if (!startRig(rig, audio))
        return verdict("command-flood", Report{false});
    LineWatch out(rig.driver);
    constexpr int kLinesPerChunk = 8192;
    const QByteArray chunk = QByteArray("open 1\n").repeated(kLinesPerChunk);
    Rss rss(rig.driver);
    auto pump = [&] {
        rig.shield.pump();
        rig.shield.frames.clear(); // the driver's frames only need reading
        audio.pump();
        rss.tick();
    };
    QElapsedTimer t;
    t.start();
    qint64 queued = 0, progressAt = 0, lastTaken = -1;
    bool stuck = false;
    while (queued < count || rig.driver.proc.bytesToWrite() > 0) {
        while (queued < count && rig.driver.proc.bytesToWrite() < (1 << 20)) {
            const qint64 n = std::min<qint64>(kLinesPerChunk, count - queued);
            rig.driver.proc.write(chunk.constData(), n * 7);
            queued += n;
        }
        const qint64 taken = queued * 7 - rig.driver.proc.bytesToWrite();
        if (taken != lastTaken) {
            lastTaken = taken;
            progressAt = t.elapsed();
        } else if (t.elapsed() - progressAt > 60000 || !rig.driver.running()) {
            stuck = true;
            break;
        }
        pump();
        spin(1);
    }
    const qint64 writtenAt = t.elapsed();
    lastTaken = queued * 7 - rig.driver.proc.bytesToWrite();
    rss.sample();
    say("  %s %lld of %lld bytes in %.1f s (%.1f MiB/s)\n", stuck ? "stopped: the driver took" : "written:",
        lastTaken, count * 7, writtenAt / 1000.0, lastTaken / 1048576.0 / std::max<qint64>(writtenAt, 1) * 1000.0);
    qint64 answered = -1;
    if (!stuck) {
        rig.driver.proc.write("7 102\n");
        if (waitUntil([&] { return out.has("#Intercom 102 supported indexes"); }, 30000, pump))
            answered = t.elapsed();
    }
    rss.sample();
    rss.print();
    r.bound(rss.peak - rss.start <= 4096, "RSS peak - start: %+lld KiB (bound +4096)", rss.peak - rss.start);
    r.bound(answered >= 0, "answer to '7 102' after the flood was written: %s (bound 30 s)",
            qPrintable(latency(writtenAt, answered)));
    finish(rig, pump);
    return verdict("command-flood", r);
}

void usage(FILE* to)
{
    fprintf(to,
            "usage: zma-stress [--seconds S] [--count N] SCENARIO... | all\n"
            "  line-flood     valid ignored frames at line rate, dials inside (60 s)\n"
            "  junk-flood     random bytes as fast as the pty takes them (20 s)\n"
            "  stdout-stall   stdout not read while calls ring (10 s)\n"
            "  stderr-stall   stderr not read, N oversized datagrams to 20003 (100000)\n"
            "  command-flood  N lines 'open 1' on stdin (10000000)\n"
            "--seconds sets the duration of the first three, --count the N of the last two.\n"
            "Runs %s; needs UDP 20002-20004 free: see run-stress.sh.\n",
            ZMA_DRIVER_PATH);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::signal(SIGPIPE, SIG_IGN); // a driver that dies must not take us along
    const QStringList known = {"line-flood", "junk-flood", "stdout-stall", "stderr-stall", "command-flood"};
    double seconds = -1;
    qint64 count = -1;
    QStringList chosen;
    const QStringList args = app.arguments().mid(1);
    for (int i = 0; i < args.size(); ++i) {
        const QString& a = args.at(i);
        bool ok = true;
        if (a == "-h" || a == "--help") {
            usage(stdout);
            return 0;
        } else if (a == "--seconds" && i + 1 < args.size()) {
            seconds = args.at(++i).toDouble(&ok);
            ok = ok && seconds > 0;
        } else if (a == "--count" && i + 1 < args.size()) {
            count = args.at(++i).toLongLong(&ok);
            ok = ok && count > 0;
        } else if (a == "all") {
            chosen << known;
        } else if (known.contains(a)) {
            chosen << a;
        } else {
            ok = false;
        }
        if (!ok) {
            fprintf(stderr, "zma-stress: bad argument '%s'\n", qPrintable(a));
            usage(stderr);
            return 2;
        }
    }
    if (chosen.isEmpty()) {
        usage(stderr);
        return 2;
    }
    auto secs = [&](double d) { return seconds > 0 ? seconds : d; };
    auto cnt = [&](qint64 d) { return count > 0 ? count : d; };
    QStringList failed;
    for (const QString& name : chosen) {
        bool ok = false;
        if (name == "line-flood")
            ok = lineFlood(secs(60));
        else if (name == "junk-flood")
            ok = junkFlood(secs(20));
        else if (name == "stdout-stall")
            ok = stdoutStall(secs(10));
        else if (name == "stderr-stall")
            ok = stderrStall(cnt(100000));
        else
            ok = commandFlood(cnt(10000000));
        if (!ok)
            failed << name;
    }
    say("zma-stress: %d of %d scenarios passed%s%s\n", int(chosen.size() - failed.size()), int(chosen.size()),
        failed.isEmpty() ? "" : "; failed: ", qPrintable(failed.join(' ')));
    return failed.isEmpty() ? 0 : 1;
}
