// zma-bench: measures the built zma-driver at rest against a simulated shield
// (a pty for the serial line, a SPI peer answering every exchange) and then
// zma-bench-ref, the floor of the same design, on the same ports for the same
// time: audio cadence at UDP 20002, CPU, RSS. Then, for the driver alone, the
// latency from a shield frame to its status line and from a console command
// to its frame on the line. With --latency, the audio's delay through the
// driver both ways under several parent patterns (latencyrun.h). The driver
// binds fixed UDP ports: run it through run-bench.sh, which gives it a
// private network namespace.

#include "rig/say.h"
#include "rig/udpreceiver.h"
#include "benchdriver.h"
#include "rig/cadence.h"
#include "hub.h"
#include "latencyreport.h"
#include "rig/shieldpty.h"
#include "rig/machinesample.h"
#include "rig/procsample.h"
#include "rig/spipeer.h"
#include "threadtable.h"
#include "rig/shieldframes.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <unistd.h>

using namespace rig;

namespace {

constexpr double kPeriodMs = 16.0;
constexpr int kBlockBytes = 512;

// Bounds the figures are held to.
constexpr double kCadenceRatioMax = 1.10;
constexpr double kCpuRatioMax = 1.15;
constexpr quint16 kBesidePort = 20012;
constexpr double kLatencyP99MaxMs = 2.5;
constexpr qint64 kRssGrowthMaxKb = 256;
// Above this share of all cores busy elsewhere a window is not at rest.
constexpr double kQuietMachineMaxPercent = 10;

struct Options {
    double seconds = 20;
    double warmup = 2;
    int dials = 200;
    int opens = 200;
    bool driver = true;
    bool reference = true;
    bool idleOnly = false;
    bool pidReport = false;
    bool strict = false;
    QString dumpDir; // raw samples for a closer look, when set
    bool latency = false; // the audio latency runs too
    QString patterns = "abcde";
    double latencyScale = 1;
};

// One idle window of one program.
struct Window {
    bool ran = false;
    QString name;
    qint64 pid = -1;
    double seconds = 0;
    Cadence cadence;
    QList<UdpReceiver::Datagram> arrivals;
    ProcSample p0, p1;
    ProcSample self0, self1;
    MachineSample m0, m1;
    qint64 rssMin = -1, rssMax = -1;
    int spiExchanges = -1; // during the window, with its SPI peer
    qint64 logDatagrams = 0;
    // A reference running beside the measured program in the same window:
    // the CPU ratio of the two is free of the drift between two windows.
    ProcSample beside0, beside1;
    qint64 besidePid = -1;
    int besideSpiExchanges = -1;

    double cpu() const { return cpuPercentTicks(p0, p1); }
    double besideCpuRun() const { return cpuPercentRun(beside0, beside1); }
    double cpuRun() const { return cpuPercentRun(p0, p1); }
};

Window idleWindow(Hub& hub, const QString& name, qint64 pid, double seconds, bool pidReport, SpiPeer* peer,
                  qint64 besidePid = -1)
{
    Window w;
    w.ran = true;
    w.name = name;
    w.pid = pid;
    hub.serveUntil(monotonicNs()); // what is already there belongs to before
    hub.audio.datagrams.clear();
    const qint64 logs0 = hub.logDatagrams;
    const int spi0 = peer ? peer->count() : -1;
    if (pidReport)
        fprintf(stderr, "zma-bench: %s pid %lld: idle window of %.0f s starts now "
                        "(e.g. perf record -e cpu-clock -g -p %lld -- sleep %.0f)\n",
                qPrintable(name), pid, seconds, pid, seconds);
    w.m0 = MachineSample::take();
    w.self0 = ProcSample::take(getpid());
    w.p0 = ProcSample::take(pid);
    w.besidePid = besidePid;
    if (besidePid > 0)
        w.beside0 = ProcSample::take(besidePid);
    w.rssMin = w.rssMax = w.p0.rssKb;
    hub.audio.keep = true;
    hub.everySecond = [&] {
        const qint64 kb = ProcSample::take(pid).rssKb;
        if (kb >= 0) {
            w.rssMin = std::min(w.rssMin, kb);
            w.rssMax = std::max(w.rssMax, kb);
        }
    };
    hub.serveUntil(w.p0.atNs + qint64(seconds * kSec));
    hub.audio.keep = false;
    hub.everySecond = nullptr;
    w.p1 = ProcSample::take(pid);
    if (besidePid > 0)
        w.beside1 = ProcSample::take(besidePid);
    w.self1 = ProcSample::take(getpid());
    w.m1 = MachineSample::take();
    w.rssMin = std::min(w.rssMin, w.p1.rssKb);
    w.rssMax = std::max(w.rssMax, w.p1.rssKb);
    w.seconds = (w.p1.atNs - w.p0.atNs) / 1e9;
    w.arrivals = hub.audio.datagrams;
    w.cadence = Cadence::of(w.arrivals, kPeriodMs, kBlockBytes);
    w.spiExchanges = peer ? peer->count() - spi0 : -1;
    w.logDatagrams = hub.logDatagrams - logs0;
    if (pidReport)
        fprintf(stderr, "zma-bench: %s idle window ended\n", qPrintable(name));
    return w;
}

struct Latency {
    std::vector<double> ms;
    int missing = 0;
    double p(double q) const { return percentile(ms, q); }
    double max() const { return ms.empty() ? 0 : *std::max_element(ms.begin(), ms.end()); }
};

struct DriverRun {
    bool started = false;
    Window idle;
    Latency dialLine;  // dial frame written -> "dial N" read from stdout
    Latency dialCall;  // dial frame written -> call frame read from the line
    Latency openFrame; // "open 1" written to stdin -> its frame read from the line
    int openRepeats = 0;
    qint64 rssAfterLatency = -1;
    int exitCode = -1;
    bool exited = false;
    int stderrLines = 0;
};

// The environment for a reference whose board library reaches the SPI peer
// at path.
QProcessEnvironment withSpiPeer(const QString& path)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("ZQ_BOARD_SPI", path);
    return env;
}

DriverRun runDriver(const Options& o)
{
    DriverRun r;
    say("driver: %s against a pty shield and a SPI peer\n", ZMA_DRIVER_PATH);
    BenchDriver rig;
    if (!rig.start())
        return r;
    Hub& hub = rig.hub;
    ShieldPty& line = rig.line;
    const int inFd = rig.stdinFd();
    r.started = true;
    say("  pid %lld, shield_ready; %.0f s to settle\n", rig.pid(), o.warmup);
    hub.listenBeside(kBesidePort);
    // The reference exchanges with a SPI peer of its own, as the driver does.
    SpiPeer besidePeer(rig.dirPath() + "/beside-spi.sock");
    QProcess beside;
    beside.setProcessEnvironment(withSpiPeer(rig.dirPath() + "/beside-spi.sock"));
    beside.setStandardInputFile(QProcess::nullDevice());
    beside.setStandardOutputFile(QProcess::nullDevice());
    beside.start(QStringLiteral(ZMA_BENCH_REF_PATH), {QString::number(kBesidePort)});
    const qint64 besidePid = beside.waitForStarted(5000) ? beside.processId() : -1;
    hub.serveForMs(o.warmup * 1000);
    const int besideSpi0 = besidePeer.count();
    r.idle = idleWindow(hub, "driver", rig.pid(), o.seconds, o.pidReport, &rig.peer, besidePid);
    r.idle.besideSpiExchanges = besidePeer.count() - besideSpi0;
    beside.terminate();
    beside.waitForFinished(5000);

    if (!o.idleOnly) {
        QRandomGenerator random(20240); // the gaps: not in step with the driver's ticks
        say("  latency: %d dials, then %d 'open 1'\n", o.dials, o.opens);
        for (int i = 0; i < o.dials; ++i) {
            const int n = 20 + i % 200;
            const QByteArray want = "\ndial " + QByteArray::number(n) + "\n";
            const int outFrom = std::max(0, int(hub.out.size()) - 1);
            const int frameFrom = int(line.frames.size());
            qint64 seenLine = -1, seenCall = -1;
            const qint64 sent = monotonicNs();
            line.send(dialFrame(uint8_t(n)));
            hub.serveUntil(sent + 2 * kSec, [&] {
                if (seenLine < 0 && hub.out.indexOf(want, outFrom) >= 0)
                    seenLine = hub.outAtNs;
                const int at = seenCall < 0 ? line.find(kCallFrame, frameFrom) : -1;
                if (at >= 0)
                    seenCall = line.frames[size_t(at)].atNs;
                return seenLine >= 0 && seenCall >= 0;
            });
            for (auto [seen, into] : {std::pair{seenLine, &r.dialLine}, std::pair{seenCall, &r.dialCall}}) {
                if (seen >= 0)
                    into->ms.push_back((seen - sent) / 1e6);
                else
                    ++into->missing;
            }
            // Back to rest before the next one.
            const int dropFrom = std::max(0, int(hub.out.size()) - 1);
            line.send(frame(DROP, QByteArray(), true));
            hub.serveUntil(monotonicNs() + 2 * kSec, [&] { return hub.out.indexOf("\ndrop\n", dropFrom) >= 0; });
            hub.serveForMs(20 + random.bounded(20.0));
        }
        for (int i = 0; i < o.opens; ++i) {
            const int frameFrom = int(line.frames.size());
            int at = -1;
            const qint64 sent = monotonicNs();
            if (::write(inFd, "open 1\n", 7) != 7) {
                ++r.openFrame.missing;
                continue;
            }
            hub.serveUntil(sent + 2 * kSec, [&] { return (at = line.find(kOpen1Frame, frameFrom)) >= 0; });
            if (at < 0) {
                ++r.openFrame.missing;
                continue;
            }
            r.openFrame.ms.push_back((line.frames[size_t(at)].atNs - sent) / 1e6);
            // The shield confirms, so the driver does not repeat the command.
            line.send(frame(OPEN_1_FREE_DONE));
            hub.serveForMs(20 + random.bounded(20.0));
            for (int k = at + 1; k < line.frames.size(); ++k)
                r.openRepeats += line.frames[k].bytes == kOpen1Frame;
        }
        r.rssAfterLatency = ProcSample::take(rig.pid()).rssKb;
    }
    rig.finish();
    r.exited = rig.exited;
    r.exitCode = rig.exitCode;
    r.stderrLines = rig.stderrLinesSinceReady();
    say("  driver %s; %d stderr lines after start-up; %lld log datagrams in all\n",
        r.exited ? qPrintable(QString("exited with status %1 after end of input").arg(r.exitCode))
                 : "still running 5 s after end of input (killed)",
        r.stderrLines, hub.logDatagrams);
    return r;
}

Window runReference(const Options& o)
{
    say("reference: %s\n", ZMA_BENCH_REF_PATH);
    Hub hub;
    if (!hub.isBound()) {
        say("  cannot bind UDP 20002/20004 (use run-bench.sh)\n");
        return Window();
    }
    QTemporaryDir dir;
    SpiPeer peer(dir.path() + "/spi.sock");
    QProcess ref;
    ref.setProcessEnvironment(withSpiPeer(dir.path() + "/spi.sock"));
    ref.setStandardInputFile(QProcess::nullDevice());
    ref.setStandardOutputFile(QProcess::nullDevice());
    ref.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    ref.start(QStringLiteral(ZMA_BENCH_REF_PATH), QStringList());
    if (!ref.waitForStarted(5000)
        || !hub.serveUntil(monotonicNs() + 5 * kSec, [&] { return hub.audio.received > 0; })) {
        say("  reference did not start sending\n");
        return Window();
    }
    say("  pid %lld, sending; %.0f s to settle\n", ref.processId(), o.warmup);
    hub.serveForMs(o.warmup * 1000);
    Window w = idleWindow(hub, "reference", ref.processId(), o.seconds, o.pidReport, &peer);
    ref.terminate();
    ref.waitForFinished(5000);
    return w;
}

// ------------------------------------------------------------ report

QString num(double v, int decimals, bool have = true)
{
    return have ? QString::number(v, 'f', decimals) : QStringLiteral("-");
}

QString ratio(double a, double b, bool have)
{
    return have && b > 0 ? QString::number(a / b, 'f', 2) : QStringLiteral("-");
}

void row(const char* label, const QString& d, const QString& r, const QString& x = QString())
{
    say("  %-38s %14s %14s %7s\n", label, qPrintable(d), qPrintable(r), qPrintable(x));
}

void threadsOf(const Window& w)
{
    struct T {
        QString name;
        double pct;
    };
    QList<T> list;
    for (auto it = w.p1.threads.cbegin(); it != w.p1.threads.cend(); ++it) {
        const qint64 before = w.p0.threads.value(it.key(), {QString(), 0}).second;
        const QString name = it.key() == w.pid ? it.value().first + "(main)" : it.value().first;
        list.append({name, (it.value().second - before) / 1e9 / w.seconds * 100.0});
    }
    std::sort(list.begin(), list.end(), [](const T& a, const T& b) { return a.pct > b.pct; });
    QStringList parts;
    for (const T& t : list)
        parts << QString("%1 %2").arg(t.name).arg(t.pct, 0, 'f', 3);
    say("  %s threads, %% of one core: %s\n", qPrintable(w.name), qPrintable(parts.join(", ")));
}

// Machine busy outside the two processes of the window (the measured one
// and the bench), as % of all cores.
double othersPercent(const Window& w)
{
    const double jiffies = double(w.m1.total - w.m0.total);
    if (jiffies <= 0)
        return -1;
    const double hz = double(sysconf(_SC_CLK_TCK));
    const double ncpu = jiffies / hz / ((w.m1.atNs - w.m0.atNs) / 1e9);
    const double busy = double(w.m1.busy - w.m0.busy) / hz;
    const double ours = double((w.p1.ticks - w.p0.ticks) + (w.self1.ticks - w.self0.ticks)) / hz;
    return std::max(0.0, (busy - ours) / ((w.m1.atNs - w.m0.atNs) / 1e9) / ncpu * 100.0);
}

struct Verdicts {
    int pass = 0, fail = 0;
    void check(bool have, bool ok, const QString& text)
    {
        if (!have) {
            say("  n/a   %s\n", qPrintable(text));
            return;
        }
        say("  %-5s %s\n", ok ? "PASS" : "FAIL", qPrintable(text));
        (ok ? pass : fail)++;
    }
};

int report(const Options& o, const DriverRun& d, const Window& ref)
{
    const Window& dw = d.idle;
    const bool D = dw.ran, R = ref.ran, both = D && R;
    const Cadence& dc = dw.cadence;
    const Cadence& rc = ref.cadence;
    say("\nidle, %.0f s each, one after the other           driver      reference   ratio\n", o.seconds);
    row("audio datagrams at UDP 20002", num(dc.datagrams, 0, D), num(rc.datagrams, 0, R));
    row("mean period (ms)", num(dc.meanMs, 4, D), num(rc.meanMs, 4, R), ratio(dc.meanMs, rc.meanMs, both));
    row("p99 |period - 16 ms| (ms)", num(dc.p99DevMs, 3, D), num(rc.p99DevMs, 3, R), ratio(dc.p99DevMs, rc.p99DevMs, both));
    row("max |period - 16 ms| (ms)", num(dc.maxDevMs, 3, D), num(rc.maxDevMs, 3, R), ratio(dc.maxDevMs, rc.maxDevMs, both));
    row("missed (gap > 24 ms)", num(dc.missed, 0, D), num(rc.missed, 0, R));
    row("doubled (gap < 8 ms)", num(dc.doubled, 0, D), num(rc.doubled, 0, R));
    row("drift (ms/min)", num(dc.driftMsPerMin, 3, D), num(rc.driftMsPerMin, 3, R));
    row("CPU, % of one core (/proc stat)", num(dw.cpu(), 3, D), num(ref.cpu(), 3, R), ratio(dw.cpu(), ref.cpu(), both));
    row("CPU, % of one core (schedstat)", num(dw.cpuRun(), 3, D), num(ref.cpuRun(), 3, R), ratio(dw.cpuRun(), ref.cpuRun(), both));
    const bool B = D && dw.beside1.runNs > 0;
    row("CPU beside: driver, reference (schedstat)", num(dw.cpuRun(), 3, B), num(dw.besideCpuRun(), 3, B),
        ratio(dw.cpuRun(), dw.besideCpuRun(), B));
    row("RSS at start of window (KiB)", num(dw.p0.rssKb, 0, D), num(ref.p0.rssKb, 0, R));
    row("RSS at end of window (KiB)", num(dw.p1.rssKb, 0, D), num(ref.p1.rssKb, 0, R));
    row("RSS min..max, sampled each second", D ? QString("%1..%2").arg(dw.rssMin).arg(dw.rssMax) : "-",
        R ? QString("%1..%2").arg(ref.rssMin).arg(ref.rssMax) : "-");
    row("bench's own CPU, % of one core", num(cpuPercentTicks(dw.self0, dw.self1), 3, D),
        num(cpuPercentTicks(ref.self0, ref.self1), 3, R));
    row("rest of the machine busy, % of all cores", num(othersPercent(dw), 1, D), num(othersPercent(ref), 1, R));
    row("load average at start", D ? dw.m0.loadavg : "-", R ? ref.m0.loadavg : "-");
    row("load average at end", D ? dw.m1.loadavg : "-", R ? ref.m1.loadavg : "-");

    say("\nchecks of the measurement\n");
    for (const Window* w : {&dw, &ref}) {
        if (!w->ran)
            continue;
        const Cadence& c = w->cadence;
        say("  %s: %d datagrams in %.2f s (%.0f expected at 16 ms), %d kernel-stamped, %d not %d bytes\n",
            qPrintable(w->name), c.datagrams, w->seconds, w->seconds * 1000.0 / kPeriodMs, c.stamped, c.wrongSize,
            kBlockBytes);
        say("  %s: the bench read each datagram %.3f ms (p50), %.3f ms (p99) after its kernel stamp\n",
            qPrintable(w->name), c.readDelayP50Ms, c.readDelayP99Ms);
    }
    if (D)
        say("  driver: %d SPI exchanges in the window (one datagram each); %lld log datagrams\n", dw.spiExchanges,
            dw.logDatagrams);
    if (D)
        say("  reference beside the driver: %d SPI exchanges in the window\n", dw.besideSpiExchanges);
    if (R)
        say("  reference: %d SPI exchanges in the window\n", ref.spiExchanges);
    bool honest = true;
    if (R) {
        const bool refOk = ref.cadence.stamped == ref.cadence.datagrams && ref.cadence.wrongSize == 0
                           && std::fabs(ref.cadence.meanMs - kPeriodMs) < 0.05
                           && std::fabs(ref.cadence.datagrams - ref.seconds * 1000.0 / kPeriodMs) <= 0.01 * ref.seconds * 1000.0 / kPeriodMs + 2;
        say("  reference sends every 16 ms, all stamped, all 512 bytes: %s\n", refOk ? "yes" : "NO");
        honest = honest && refOk;
    }
    if (D) {
        const bool drvOk = dc.datagrams > 0 && dc.stamped == dc.datagrams;
        say("  driver's datagrams all kernel-stamped: %s\n", drvOk ? "yes" : "NO");
        honest = honest && drvOk;
    }
    for (const Window* w : {&dw, &ref})
        if (w->ran)
            threadsOf(*w);
    if (D || R) {
        say("  per thread, %% of one core (schedstat):\n");
        ThreadTable table;
        if (D)
            table.add("driver", dw.pid, dw.p0, dw.p1);
        if (D && dw.beside1.runNs > 0)
            table.add("reference beside it", dw.besidePid, dw.beside0, dw.beside1);
        if (R)
            table.add("reference alone", ref.pid, ref.p0, ref.p1);
        table.print();
    }

    if (D && !o.idleOnly) {
        say("\nlatency, driver only                      n    p50 ms   p99 ms   max ms  missing\n");
        auto lat = [](const char* label, const Latency& l) {
            say("  %-36s %4d %8.3f %8.3f %8.3f %8d\n", label, int(l.ms.size()), l.p(50), l.p(99), l.max(), l.missing);
        };
        lat("dial frame -> 'dial N' on stdout", d.dialLine);
        lat("dial frame -> call frame on the line", d.dialCall);
        lat("'open 1' on stdin -> frame on line", d.openFrame);
        say("  'open 1' frames repeated before the confirmation was taken: %d\n", d.openRepeats);
        say("  RSS after the latency runs: %lld KiB\n", d.rssAfterLatency);
    }

    say("\ntargets\n");
    Verdicts v;
    v.check(both, both && dc.p99DevMs <= kCadenceRatioMax * rc.p99DevMs,
            QString("cadence p99 |deviation| %1 ms vs reference %2 ms: ratio %3 (bound %4)")
                .arg(dc.p99DevMs, 0, 'f', 3).arg(rc.p99DevMs, 0, 'f', 3).arg(ratio(dc.p99DevMs, rc.p99DevMs, both))
                .arg(kCadenceRatioMax, 0, 'f', 2));
    v.check(B, B && dw.cpuRun() <= kCpuRatioMax * dw.besideCpuRun(),
            QString("idle CPU %1 % vs the reference beside it %2 %: ratio %3 (bound %4)")
                .arg(dw.cpuRun(), 0, 'f', 3).arg(dw.besideCpuRun(), 0, 'f', 3)
                .arg(ratio(dw.cpuRun(), dw.besideCpuRun(), B)).arg(kCpuRatioMax, 0, 'f', 2));
    const bool lat = D && !o.idleOnly;
    v.check(lat, lat && d.dialLine.missing == 0 && d.dialLine.p(99) <= kLatencyP99MaxMs,
            QString("dial frame -> status line p99 %1 ms, %2 missing (bound %3 ms)")
                .arg(d.dialLine.p(99), 0, 'f', 3).arg(d.dialLine.missing).arg(kLatencyP99MaxMs));
    v.check(lat, lat && d.openFrame.missing == 0 && d.openFrame.p(99) <= kLatencyP99MaxMs,
            QString("console command -> frame on the line p99 %1 ms, %2 missing (bound %3 ms)")
                .arg(d.openFrame.p(99), 0, 'f', 3).arg(d.openFrame.missing).arg(kLatencyP99MaxMs));
    const qint64 growth = dw.p1.rssKb - dw.p0.rssKb;
    v.check(D, D && dw.p0.rssKb > 0 && std::abs(growth) <= kRssGrowthMaxKb && dw.rssMax - dw.rssMin <= kRssGrowthMaxKb,
            QString("RSS flat over the idle window: end - start %1 KiB, max - min %2 KiB (bound %3 KiB)")
                .arg(growth).arg(dw.rssMax - dw.rssMin).arg(kRssGrowthMaxKb));
    for (const Window* w : {&dw, &ref})
        if (w->ran && othersPercent(*w) > kQuietMachineMaxPercent)
            say("  WARNING: other programs kept %.0f%% of the machine busy during the %s window: "
                "its figures are disturbed; run again when the machine is quiet\n",
                othersPercent(*w), qPrintable(w->name));
    if (!honest)
        say("  the measurement itself looks wrong (see the checks above): figures not to be trusted\n");
    if (D && both && dw.cpu() > kCpuRatioMax * ref.cpu())
        say("  note: the driver's idle CPU is above %.2fx the reference's; to profile it:\n"
            "        run-bench.sh BUILD --only driver --idle-only --seconds 60 --pid-report\n"
            "        and attach perf to the pid it prints (perf record -e cpu-clock -g -p PID)\n", kCpuRatioMax);
    say("zma-bench: %d passed, %d failed\n", v.pass, v.fail);
    return (v.fail > 0 || !honest || (o.driver && !D) || (o.reference && !R)) ? 1 : 0;
}

// One file per series, one value a line: the gaps between datagrams by
// their kernel stamps, and each latency sample, all in ms.
void dump(const QString& dir, const DriverRun& d, const Window& ref)
{
    auto write = [&](const QString& name, const std::vector<double>& values) {
        QFile f(dir + "/" + name);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            say("cannot write %s\n", qPrintable(f.fileName()));
            return;
        }
        for (double v : values)
            f.write(QByteArray::number(v, 'f', 4) + '\n');
    };
    auto gaps = [](const Window& w) {
        std::vector<double> g;
        for (int i = 1; i < w.arrivals.size(); ++i)
            g.push_back((w.arrivals[i].kernelNs - w.arrivals[i - 1].kernelNs) / 1e6);
        return g;
    };
    QDir().mkpath(dir);
    if (d.idle.ran)
        write("driver-gaps.txt", gaps(d.idle));
    if (ref.ran)
        write("reference-gaps.txt", gaps(ref));
    write("dial-line.txt", d.dialLine.ms);
    write("dial-call.txt", d.dialCall.ms);
    write("open-frame.txt", d.openFrame.ms);
    say("raw samples in %s\n", qPrintable(dir));
}

void usage(FILE* to)
{
    fprintf(to,
            "usage: zma-bench [--seconds S] [--warmup S] [--dials N] [--opens N]\n"
            "                 [--only driver|ref] [--idle-only] [--pid-report] [--strict] [--dump DIR]\n"
            "                 [--latency | --latency-only] [--patterns L] [--latency-scale F]\n"
            "  --seconds S   length of each idle window (default 20)\n"
            "  --warmup S    settling time before each window (default 2)\n"
            "  --dials N     dials for the shield-frame latency (default 200)\n"
            "  --opens N     'open 1' lines for the console latency (default 200)\n"
            "  --only X      measure only the driver or only the reference\n"
            "  --idle-only   skip the latency runs (for profiling the idle driver)\n"
            "  --pid-report  say on stderr each program's pid as its idle window starts\n"
            "  --strict      exit status 1 when a target fails (otherwise 0)\n"
            "  --dump DIR    write the raw gaps and latencies there, one per line (ms)\n"
            "  --latency     then the audio latency runs: numbered blocks from a parent\n"
            "                pattern to the SPI peer, and the peer's answers to UDP 20002,\n"
            "                with the driver's default and with -audio-fifo\n"
            "  --latency-only  only those (no idle windows, no reference)\n"
            "  --patterns L  which of them, e.g. 'ab' (default abcde): a 16 ms +-2 ms jitter,\n"
            "                b a 64 ms stall at 3 s, c 10 blocks at once then 16 ms,\n"
            "                d a clock 1 %% fast, e 8 blocks in one datagram per 128 ms\n"
            "  --latency-scale F  patterns F times as long (default 1: 15 s, d 30 s)\n"
            "Runs %s and %s one after the other;\n"
            "needs UDP 20002 and 20004 free: see run-bench.sh.\n",
            ZMA_DRIVER_PATH, ZMA_BENCH_REF_PATH);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::signal(SIGPIPE, SIG_IGN); // a driver that dies must not take us along
    Options o;
    const QStringList args = app.arguments().mid(1);
    for (int i = 0; i < args.size(); ++i) {
        const QString& a = args.at(i);
        const bool hasValue = i + 1 < args.size();
        bool ok = true;
        if (a == "-h" || a == "--help") {
            usage(stdout);
            return 0;
        } else if (a == "--seconds" && hasValue) {
            o.seconds = args.at(++i).toDouble(&ok);
            ok = ok && o.seconds >= 1;
        } else if (a == "--warmup" && hasValue) {
            o.warmup = args.at(++i).toDouble(&ok);
            ok = ok && o.warmup >= 0;
        } else if (a == "--dials" && hasValue) {
            o.dials = args.at(++i).toInt(&ok);
            ok = ok && o.dials > 0;
        } else if (a == "--opens" && hasValue) {
            o.opens = args.at(++i).toInt(&ok);
            ok = ok && o.opens > 0;
        } else if (a == "--only" && hasValue) {
            const QString which = args.at(++i);
            ok = which == "driver" || which == "ref";
            o.driver = which == "driver";
            o.reference = which == "ref";
        } else if (a == "--idle-only") {
            o.idleOnly = true;
        } else if (a == "--pid-report") {
            o.pidReport = true;
        } else if (a == "--dump" && hasValue) {
            o.dumpDir = args.at(++i);
        } else if (a == "--latency") {
            o.latency = true;
        } else if (a == "--latency-only") {
            o.latency = true;
            o.driver = o.reference = false;
        } else if (a == "--patterns" && hasValue) {
            o.patterns = args.at(++i);
            ok = QRegularExpression("^[a-e]+$").match(o.patterns).hasMatch();
        } else if (a == "--latency-scale" && hasValue) {
            o.latencyScale = args.at(++i).toDouble(&ok);
            ok = ok && o.latencyScale > 0;
        } else if (a == "--strict") {
            o.strict = true;
        } else {
            ok = false;
        }
        if (!ok) {
            fprintf(stderr, "zma-bench: bad argument '%s'\n", qPrintable(a));
            usage(stderr);
            return 2;
        }
    }
    say("zma-bench: %.0f s idle windows, %.0f s to settle before each; load average now %s\n", o.seconds, o.warmup,
        qPrintable(MachineSample::take().loadavg));
    DriverRun d;
    if (o.driver)
        d = runDriver(o);
    Window ref;
    if (o.reference)
        ref = runReference(o);
    const auto patterns = LatencyPattern::all(o.patterns, o.latencyScale);
    LatencyRun plain("default", {}), fifo("-audio-fifo", {"-audio-fifo"});
    for (LatencyRun* run : {&plain, &fifo})
        if (o.latency)
            run->run(patterns, o.warmup);
    const bool latencyOk = !o.latency || printLatencyReport(patterns, {&plain, &fifo});
    if (!o.driver && !o.reference)
        return o.strict && !latencyOk ? 1 : 0;
    const int failed = report(o, d, ref) || !latencyOk;
    if (!o.dumpDir.isEmpty())
        dump(o.dumpDir, d, ref);
    return o.strict ? failed : 0;
}
