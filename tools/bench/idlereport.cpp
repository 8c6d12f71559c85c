#include "idlereport.h"

#include "rig/quantiles.h"
#include "rig/say.h"

#include <QDir>
#include <QFile>
#include <QStringList>
#include <algorithm>
#include <cmath>

using namespace rig;

namespace {

constexpr double kPeriodMs = IdleWindow::kPeriodMs;
// Bounds the figures are held to.
constexpr double kCadenceRatioMax = 1.10;
constexpr double kCpuRatioMax = 1.15;
constexpr double kLatencyP99MaxMs = 2.5;
constexpr qint64 kRssGrowthMaxKb = 256;
// Above this share of all cores busy elsewhere a window is not at rest.
constexpr double kQuietMachineMaxPercent = 10;

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

constexpr int kColumn = 30; // of the per-thread table

// Each thread's time on a CPU (schedstat) over a window, busiest first.
struct Threads {
    QString title;
    std::vector<std::pair<QString, double>> rows; // name, % of one core
    double total = 0;

    // pid names the main thread; a and b are the samples at the window's ends.
    static Threads of(const QString& title, qint64 pid, const ProcSample& a, const ProcSample& b)
    {
        Threads t{title, {}, 0};
        const double seconds = (b.atNs - a.atNs) / 1e9;
        for (auto it = b.threads.cbegin(); seconds > 0 && it != b.threads.cend(); ++it) {
            const qint64 before = a.threads.value(it.key(), {QString(), 0}).second;
            t.rows.push_back({it.value().first + (it.key() == pid ? "(main)" : ""),
                              (it.value().second - before) / 1e9 / seconds * 100.0});
            t.total += t.rows.back().second;
        }
        std::sort(t.rows.begin(), t.rows.end(), [](const auto& x, const auto& y) { return x.second > y.second; });
        return t;
    }
};

void sayTrimmed(QString line)
{
    while (line.endsWith(' '))
        line.chop(1);
    say("%s\n", qPrintable(line));
}

// A figure that could not be taken is not applicable, not a failure.
void check(Verdict& v, bool have, bool ok, const QString& text)
{
    if (have)
        v.check(ok, " %s", qPrintable(text));
    else
        v.notApplicable(" %s", qPrintable(text));
}

} // namespace

int IdleReport::print()
{
    table();
    say("\nchecks of the measurement\n");
    const bool honest = checks();
    threads();
    if (D && !o.idleOnly) {
        say("\nlatency, driver only                      n    p50 ms   p99 ms   max ms  missing\n");
        for (auto [label, l] : {std::pair{"dial frame -> 'dial N' on stdout", &d.dialLine},
                                std::pair{"dial frame -> call frame on the line", &d.dialCall},
                                std::pair{"'open 1' on stdin -> frame on line", &d.openFrame}}) {
            const Quantiles q = Quantiles::of(l->ms);
            say("  %-36s %4d %8.3f %8.3f %8.3f %8d\n", label, q.n, q.p50, q.p99, q.max, l->missing);
        }
        say("  'open 1' frames repeated before the confirmation was taken: %d\n", d.openRepeats);
        say("  RSS after the latency runs: %lld KiB\n", d.rssAfterLatency);
    }
    say("\ntargets\n");
    targets();
    for (const IdleWindow* w : {&dw, &ref})
        if (w->ran && w->othersPercent() > kQuietMachineMaxPercent)
            say("  WARNING: other programs kept %.0f%% of the machine busy during the %s window: "
                "its figures are disturbed; run again when the machine is quiet\n",
                w->othersPercent(), qPrintable(w->name));
    if (!honest)
        say("  the measurement itself looks wrong (see the checks above): figures not to be trusted\n");
    if (both && dw.cpu() > kCpuRatioMax * ref.cpu())
        say("  note: the driver's idle CPU is above %.2fx the reference's; to profile it:\n"
            "        run-bench.sh BUILD --only driver --idle-only --seconds 60 --pid-report\n"
            "        and attach perf to the pid it prints (perf record -e cpu-clock -g -p PID)\n", kCpuRatioMax);
    say("zma-bench: %d passed, %d failed\n", verdict.passed, verdict.failed);
    return (verdict.failed > 0 || !honest || (o.driver && !D) || (o.reference && !R)) ? 1 : 0;
}

void IdleReport::table() const
{
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
    row("CPU beside: driver, reference (schedstat)", num(dw.cpuRun(), 3, B), num(dw.besideCpuRun(), 3, B),
        ratio(dw.cpuRun(), dw.besideCpuRun(), B));
    row("RSS at start of window (KiB)", num(dw.p0.rssKb, 0, D), num(ref.p0.rssKb, 0, R));
    row("RSS at end of window (KiB)", num(dw.p1.rssKb, 0, D), num(ref.p1.rssKb, 0, R));
    row("RSS min..max, sampled each second", D ? QString("%1..%2").arg(dw.rssMin).arg(dw.rssMax) : "-",
        R ? QString("%1..%2").arg(ref.rssMin).arg(ref.rssMax) : "-");
    row("bench's own CPU, % of one core", num(cpuPercentTicks(dw.self0, dw.self1), 3, D),
        num(cpuPercentTicks(ref.self0, ref.self1), 3, R));
    row("rest of the machine busy, % of all cores", num(dw.othersPercent(), 1, D), num(ref.othersPercent(), 1, R));
    row("load average at start", D ? dw.m0.loadavg : "-", R ? ref.m0.loadavg : "-");
    row("load average at end", D ? dw.m1.loadavg : "-", R ? ref.m1.loadavg : "-");
}

bool IdleReport::checks() const
{
    for (const IdleWindow* w : {&dw, &ref}) {
        if (!w->ran)
            continue;
        const Cadence& c = w->cadence;
        say("  %s: %d datagrams in %.2f s (%.0f expected at 16 ms), %d kernel-stamped, %d not %d bytes\n",
            qPrintable(w->name), c.datagrams, w->seconds, w->seconds * 1000.0 / kPeriodMs, c.stamped, c.wrongSize,
            IdleWindow::kBlockBytes);
        say("  %s: the bench read each datagram %.3f ms (p50), %.3f ms (p99) after its kernel stamp\n",
            qPrintable(w->name), c.readDelayP50Ms, c.readDelayP99Ms);
    }
    if (D)
        say("  driver: %d SPI exchanges in the window (one datagram each); %lld log datagrams\n"
            "  reference beside the driver: %d SPI exchanges in the window\n",
            dw.spiExchanges, dw.logDatagrams, dw.besideSpiExchanges);
    if (R)
        say("  reference: %d SPI exchanges in the window\n", ref.spiExchanges);
    const Cadence &rc = ref.cadence, &dc = dw.cadence;
    const bool refOk = rc.stamped == rc.datagrams && rc.wrongSize == 0 && std::fabs(rc.meanMs - kPeriodMs) < 0.05
                       && std::fabs(rc.datagrams - ref.seconds * 1000.0 / kPeriodMs)
                              <= 0.01 * ref.seconds * 1000.0 / kPeriodMs + 2;
    const bool drvOk = dc.datagrams > 0 && dc.stamped == dc.datagrams;
    if (R)
        say("  reference sends every 16 ms, all stamped, all 512 bytes: %s\n", refOk ? "yes" : "NO");
    if (D)
        say("  driver's datagrams all kernel-stamped: %s\n", drvOk ? "yes" : "NO");
    return (!R || refOk) && (!D || drvOk);
}

void IdleReport::threads() const
{
    std::vector<Threads> columns;
    if (D)
        columns.push_back(Threads::of("driver", dw.pid, dw.p0, dw.p1));
    if (B)
        columns.push_back(Threads::of("reference beside it", dw.besidePid, dw.beside0, dw.beside1));
    if (R)
        columns.push_back(Threads::of("reference alone", ref.pid, ref.p0, ref.p1));
    if (columns.empty())
        return;
    for (const auto& [w, c] : {std::pair{&dw, &columns.front()}, std::pair{&ref, &columns.back()}}) {
        if (!w->ran)
            continue;
        QStringList parts;
        for (const auto& [name, percent] : c->rows)
            parts << QString("%1 %2").arg(name).arg(percent, 0, 'f', 3);
        say("  %s threads, %% of one core: %s\n", qPrintable(w->name), qPrintable(parts.join(", ")));
    }
    // One column a process, its busiest thread first.
    say("  per thread, %% of one core (schedstat):\n");
    auto cell = [](const QString& name, double percent) {
        return QString("%1 %2").arg(name.left(kColumn - 9), -(kColumn - 9)).arg(percent, 6, 'f', 3) + "  ";
    };
    size_t rows = 0;
    QString head = "  ", total = "  ";
    for (const Threads& c : columns) {
        rows = std::max(rows, c.rows.size());
        head += QString("%1").arg(c.title, -kColumn);
        total += cell("all threads", c.total);
    }
    sayTrimmed(head);
    for (size_t i = 0; i < rows; ++i) {
        QString line = "  ";
        for (const Threads& c : columns)
            line += i < c.rows.size() ? cell(c.rows[i].first, c.rows[i].second) : QString(kColumn, ' ');
        sayTrimmed(line);
    }
    sayTrimmed(total);
}

void IdleReport::targets()
{
    const Cadence& dc = dw.cadence;
    const Cadence& rc = ref.cadence;
    check(verdict, both, both && dc.p99DevMs <= kCadenceRatioMax * rc.p99DevMs,
          QString("cadence p99 |deviation| %1 ms vs reference %2 ms: ratio %3 (bound %4)")
              .arg(dc.p99DevMs, 0, 'f', 3).arg(rc.p99DevMs, 0, 'f', 3).arg(ratio(dc.p99DevMs, rc.p99DevMs, both))
              .arg(kCadenceRatioMax, 0, 'f', 2));
    check(verdict, B, B && dw.cpuRun() <= kCpuRatioMax * dw.besideCpuRun(),
          QString("idle CPU %1 % vs the reference beside it %2 %: ratio %3 (bound %4)")
              .arg(dw.cpuRun(), 0, 'f', 3).arg(dw.besideCpuRun(), 0, 'f', 3)
              .arg(ratio(dw.cpuRun(), dw.besideCpuRun(), B)).arg(kCpuRatioMax, 0, 'f', 2));
    const bool lat = D && !o.idleOnly;
    for (auto [l, what] : {std::pair{&d.dialLine, "dial frame -> status line"},
                           std::pair{&d.openFrame, "console command -> frame on the line"}}) {
        const double p99 = Quantiles::of(l->ms).p99;
        check(verdict, lat, lat && l->missing == 0 && p99 <= kLatencyP99MaxMs,
              QString("%1 p99 %2 ms, %3 missing (bound %4 ms)")
                  .arg(what).arg(p99, 0, 'f', 3).arg(l->missing).arg(kLatencyP99MaxMs));
    }
    const qint64 growth = dw.p1.rssKb - dw.p0.rssKb;
    check(verdict, D, D && dw.p0.rssKb > 0 && std::abs(growth) <= kRssGrowthMaxKb && dw.rssMax - dw.rssMin <= kRssGrowthMaxKb,
          QString("RSS flat over the idle window: end - start %1 KiB, max - min %2 KiB (bound %3 KiB)")
              .arg(growth).arg(dw.rssMax - dw.rssMin).arg(kRssGrowthMaxKb));
}

void IdleReport::dump(const QString& dir) const
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
    QDir().mkpath(dir);
    if (D)
        write("driver-gaps.txt", dw.cadence.gapsMs);
    if (R)
        write("reference-gaps.txt", ref.cadence.gapsMs);
    write("dial-line.txt", d.dialLine.ms);
    write("dial-call.txt", d.dialCall.ms);
    write("open-frame.txt", d.openFrame.ms);
    say("raw samples in %s\n", qPrintable(dir));
}
