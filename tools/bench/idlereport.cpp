#include "idlereport.h"

#include "rig/quantiles.h"
#include "rig/say.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QStringList>
#include <algorithm>
#include <cmath>

using namespace rig;
using ProgramWindow = DriverRun::ProgramWindow;

namespace {

constexpr double kPeriodMs = Parent::kPeriodNs / 1e6;
// Bounds the figures are held to: against the design floor, against the
// physical floor (with what to aim for), and for the latencies.
constexpr double kCadenceRatioMax = 1.10;
constexpr double kCpuRatioMax = 1.15;
constexpr double kPhysicalRatioMax = 2.0;
constexpr double kPhysicalRatioAim = 1.5;
constexpr double kLatencyP50MaxMs = 0.4;
constexpr double kLatencyP99MaxMs = 1.5;
constexpr qint64 kRssGrowthMaxKb = 256;
// Above this share of all cores busy elsewhere a window is not at rest.
constexpr double kQuietMachineMaxPercent = 10;

QString ratio(double a, double b, bool have)
{
    return have && a >= 0 && b > 0 ? QString::number(a / b, 'f', 2) : QStringLiteral("-"); // unknown: -1 or NaN
}

constexpr int kColumn = 36; // of the per-thread table

// A program's column of the per-thread table: each thread's time on a CPU
// (schedstat) and wake-ups a second over the window, busiest first, then
// all threads together.
QStringList threadCells(const ProgramWindow& p)
{
    struct Row { QString name; double percent, wakeups; }; // percent of one core, wake-ups a second
    std::vector<Row> rows;
    Row total{"all threads", 0, 0};
    const double seconds = (p.p1.atNs - p.p0.atNs) / 1e9;
    for (auto it = p.p1.threads.cbegin(); seconds > 0 && it != p.p1.threads.cend(); ++it) {
        const qint64 before = p.p0.threads.value(it.key(), {QString(), 0}).second;
        const qint64 switches = p.p1.threadSwitches.value(it.key()) - p.p0.threadSwitches.value(it.key());
        rows.push_back({it.value().first + (it.key() == p.pid ? "(main)" : ""),
                        (it.value().second - before) / 1e9 / seconds * 100.0, switches / seconds});
        total.percent += rows.back().percent;
        total.wakeups += rows.back().wakeups;
    }
    std::sort(rows.begin(), rows.end(), [](const Row& x, const Row& y) { return x.percent > y.percent; });
    rows.push_back(total);
    QStringList cells;
    for (const Row& r : rows)
        cells << QString("%1 %2 %3").arg(r.name.left(kColumn - 17), -(kColumn - 17)).arg(r.percent, 6, 'f', 3)
                         .arg(r.wakeups, 7, 'f', 1) + "  ";
    return cells;
}

// "ratio R (bound B; aim A, met)" for a figure held to the physical floor.
QString againstFloor(double a, double b, bool have)
{
    const bool aimed = have && b > 0 && a <= kPhysicalRatioAim * b;
    return QString("ratio %1 (bound %2; aim %3, %4)")
        .arg(ratio(a, b, have)).arg(kPhysicalRatioMax, 0, 'f', 2).arg(kPhysicalRatioAim, 0, 'f', 2)
        .arg(aimed ? "met" : "not met");
}

} // namespace

int IdleReport::print()
{
    table();
    say("\nchecks of the measurement\n");
    const bool honest = checks();
    threads();
    if (D && !o.idleOnly) {
        say("\nlatency, driver only (floors stopped)      n    p50 ms   p99 ms   max ms  missing\n");
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
    if ((D || G || P) && d.othersPercent() > kQuietMachineMaxPercent)
        say("  WARNING: other programs kept %.0f%% of the machine busy during the idle window: "
            "its figures are disturbed; run again when the machine is quiet\n",
            d.othersPercent());
    if (!honest)
        say("  the measurement itself looks wrong (see the checks above): figures not to be trusted\n");
    if (D && P && (dr.cpuRun() > kPhysicalRatioMax * ph.cpuRun() || dr.wakeups() > kPhysicalRatioMax * ph.wakeups()))
        say("  note: the driver costs over %.1fx the physical floor; to profile it:\n"
            "        run-bench.sh BUILD --only driver --idle-only --seconds 60 --pid-report\n"
            "        and attach perf to the pid it prints (perf record -e cpu-clock -g -p PID)\n",
            kPhysicalRatioMax);
    return (verdict.failed > 0 || !honest || (o.driver && !D) || (o.reference && !(G && P))) ? 1 : 0;
}

void IdleReport::table() const
{
    say("\nidle, %.0f s side by side in one window      driver   design floor physical floor  "
        "drv/design  drv/phys\n", o.seconds);
    const auto row = [&](const char* label, auto of, int decimals, bool ratios) {
        const double a = of(dr), b = of(de), c = of(ph);
        say("  %-38s %12s %14s %14s %11s %9s\n", label, qPrintable(figure(a, decimals, D)),
            qPrintable(figure(b, decimals, G)), qPrintable(figure(c, decimals, P)),
            qPrintable(ratios ? ratio(a, b, DG) : QString()), qPrintable(ratios ? ratio(a, c, DP) : QString()));
    };
    using PW = const ProgramWindow&;
    row("audio datagrams at its UDP port", [](PW p) { return double(p.cadence.datagrams); }, 0, false);
    row("mean period (ms)", [](PW p) { return p.cadence.meanMs; }, 4, true);
    row("p99 |period - 16 ms| (ms)", [](PW p) { return p.cadence.p99DevMs; }, 3, true);
    row("max |period - 16 ms| (ms)", [](PW p) { return p.cadence.maxDevMs; }, 3, true);
    row("missed (gap > 24 ms)", [](PW p) { return double(p.cadence.missed); }, 0, false);
    row("doubled (gap < 8 ms)", [](PW p) { return double(p.cadence.doubled); }, 0, false);
    row("drift (ms/min)", [](PW p) { return p.cadence.driftMsPerMin; }, 3, false);
    row("CPU, % of one core (/proc stat)", [](PW p) { return cpuPercentTicks(p.p0, p.p1); }, 3, true);
    row("CPU, % of one core (schedstat)", [](PW p) { return p.cpuRun(); }, 3, true);
    row("wake-ups per second (ctxt switches)", [](PW p) { return p.wakeups(); }, 1, true);
    row("RSS at start of window (KiB)", [](PW p) { return double(p.p0.rssKb); }, 0, false);
    row("RSS at end of window (KiB)", [](PW p) { return double(p.p1.rssKb); }, 0, false);
    say("  %-38s %12s %14s %14s\n", "RSS min..max, sampled each second",
        qPrintable(D ? QString("%1..%2").arg(dr.rssMin).arg(dr.rssMax) : "-"),
        qPrintable(G ? QString("%1..%2").arg(de.rssMin).arg(de.rssMax) : "-"),
        qPrintable(P ? QString("%1..%2").arg(ph.rssMin).arg(ph.rssMax) : "-"));
    say("  bench's own CPU %.3f %% of one core; rest of the machine busy %.1f %% of all cores; "
        "load average %s at start, %s at end\n",
        cpuPercentTicks(d.self0, d.self1), d.othersPercent(), qPrintable(d.m0.loadavg), qPrintable(d.m1.loadavg));
}

bool IdleReport::checks() const
{
    bool ok = true;
    for (const ProgramWindow* p : {&dr, &de, &ph}) {
        if (!p->ran)
            continue;
        const Cadence& c = p->cadence;
        const double expected = d.seconds * 1000.0 / kPeriodMs;
        say("  %s: %d datagrams in %.2f s (%.0f expected at 16 ms), %d kernel-stamped, %d not %d bytes; "
            "%d SPI exchanges\n",
            qPrintable(p->name), c.datagrams, d.seconds, expected, c.stamped, c.wrongSize, Parent::kBlockBytes,
            p->spiExchanges);
        say("  %s: the bench read each datagram %.3f ms (p50), %.3f ms (p99) after its kernel stamp\n",
            qPrintable(p->name), c.readDelayP50Ms, c.readDelayP99Ms);
        if (p == &dr) {
            const bool stamped = c.datagrams > 0 && c.stamped == c.datagrams;
            say("  driver's datagrams all kernel-stamped: %s; %lld log datagrams\n", stamped ? "yes" : "NO",
                d.logDatagrams);
            ok = ok && stamped;
            continue;
        }
        const bool steady = c.stamped == c.datagrams && c.wrongSize == 0 && std::fabs(c.meanMs - kPeriodMs) < 0.05
                            && std::fabs(c.datagrams - expected) <= 0.01 * expected + 2;
        say("  %s sends every 16 ms, all stamped, all 512 bytes: %s\n", qPrintable(p->name), steady ? "yes" : "NO");
        ok = ok && steady;
    }
    return ok;
}

void IdleReport::threads() const
{
    const auto sayTrimmed = [](QString line) { say("%s\n", qPrintable(line.remove(QRegularExpression(" +$")))); };
    std::vector<QStringList> columns; // the last cell: all threads
    QString head = "  ", total = "  ";
    int rows = 0;
    for (const ProgramWindow* p : {&dr, &de, &ph})
        if (p->ran) {
            columns.push_back(threadCells(*p));
            head += QString("%1").arg(p->name, -kColumn);
            total += columns.back().last();
            rows = std::max(rows, int(columns.back().size()) - 1);
        }
    if (columns.empty())
        return;
    // One column a program, its busiest thread first.
    say("  per thread, %% of one core (schedstat) and wake-ups a second:\n");
    sayTrimmed(head);
    for (int i = 0; i < rows; ++i) {
        QString line = "  ";
        for (const QStringList& c : columns)
            line += i < c.size() - 1 ? c[i] : QString(kColumn, ' ');
        sayTrimmed(line);
    }
    sayTrimmed(total);
}

void IdleReport::targets()
{
    // A figure that could not be taken is not applicable, not a failure.
    verdict.checkIf(DP, DP && dr.wakeups() <= kPhysicalRatioMax * ph.wakeups(),
                    " idle wake-ups %.1f/s vs the physical floor %.1f/s: %s", dr.wakeups(), ph.wakeups(),
                    qPrintable(againstFloor(dr.wakeups(), ph.wakeups(), DP)));
    verdict.checkIf(DP, DP && dr.cpuRun() <= kPhysicalRatioMax * ph.cpuRun(),
                    " idle CPU %.3f %% vs the physical floor %.3f %%: %s", dr.cpuRun(), ph.cpuRun(),
                    qPrintable(againstFloor(dr.cpuRun(), ph.cpuRun(), DP)));
    verdict.checkIf(DG, DG && dr.cpuRun() <= kCpuRatioMax * de.cpuRun(),
                    " idle CPU %.3f %% vs the design floor %.3f %%: ratio %s (bound %.2f)", dr.cpuRun(), de.cpuRun(),
                    qPrintable(ratio(dr.cpuRun(), de.cpuRun(), DG)), kCpuRatioMax);
    verdict.checkIf(DG, DG && dr.cadence.p99DevMs <= kCadenceRatioMax * de.cadence.p99DevMs,
                    " cadence p99 |deviation| %.3f ms vs the design floor %.3f ms: ratio %s (bound %.2f)",
                    dr.cadence.p99DevMs, de.cadence.p99DevMs,
                    qPrintable(ratio(dr.cadence.p99DevMs, de.cadence.p99DevMs, DG)), kCadenceRatioMax);
    const bool lat = D && !o.idleOnly;
    for (auto [l, what] : {std::pair{&d.dialLine, "dial frame -> status line"},
                           std::pair{&d.openFrame, "console command -> frame on the line"}}) {
        const Quantiles q = Quantiles::of(l->ms);
        verdict.checkIf(lat, lat && l->missing == 0 && q.p50 <= kLatencyP50MaxMs && q.p99 <= kLatencyP99MaxMs,
                        " %s p50 %.3f ms, p99 %.3f ms, %d missing (bounds %g / %g ms)", what, q.p50, q.p99, l->missing,
                        kLatencyP50MaxMs, kLatencyP99MaxMs);
    }
    const bool rssFlat = dr.p0.rssKb > 0 && std::abs(dr.p1.rssKb - dr.p0.rssKb) <= kRssGrowthMaxKb
                         && dr.rssMax - dr.rssMin <= kRssGrowthMaxKb;
    verdict.checkIf(D, D && rssFlat,
                    " RSS flat over the idle window: end - start %lld KiB, max - min %lld KiB (bound %lld KiB)",
                    dr.p1.rssKb - dr.p0.rssKb, dr.rssMax - dr.rssMin, kRssGrowthMaxKb);
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
    for (const ProgramWindow* p : {&dr, &de, &ph})
        if (p->ran) // "driver", "design floor", "physical floor"
            write(p->name.section(' ', 0, 0) + "-gaps.txt", p->cadence.gapsMs);
    write("dial-line.txt", d.dialLine.ms);
    write("dial-call.txt", d.dialCall.ms);
    write("open-frame.txt", d.openFrame.ms);
    say("raw samples in %s\n", qPrintable(dir));
}
