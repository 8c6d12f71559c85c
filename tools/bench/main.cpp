// zma-bench: measures the built zma-driver at rest against a simulated shield
// with the two floors of zma-bench-ref beside it in the same window (the
// design's and the board's); then the driver's latencies on the quiet
// machine, the driver under load, and with --latency the audio's delay
// through it both ways (latencyrun.h). The driver binds fixed UDP ports: run
// it through run-bench.sh, which gives it a private network namespace.

#include "benchoptions.h"
#include "driverrun.h"
#include "idlereport.h"
#include "latencyrun.h"
#include "loadrun.h"
#include "rig/machinesample.h"
#include "rig/programoptions.h"
#include "rig/say.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <csignal>

namespace {

void usage(FILE* to)
{
    fprintf(to,
            "usage: zma-bench [--seconds S] [--warmup S] [--dials N] [--opens N]\n"
            "                 [--only driver|ref] [--idle-only] [--pid-report] [--strict] [--dump DIR]\n"
            "                 [--load | --no-load | --load-only] [--load-seconds S] [--busy-per-core N]\n"
            "                 [--latency | --latency-only] [--patterns L] [--latency-scale F]\n"
            "  --seconds S   length of the idle window (default 20): the driver, the design\n"
            "                floor (zma-bench-ref) and the physical floor (zma-bench-ref\n"
            "                --physical) side by side: cadence, CPU, wake-ups, RSS\n"
            "  --warmup S    settling time before each window or run (default 2)\n"
            "  --dials N     dials for the shield-frame latency (default 200)\n"
            "  --opens N     'open 1' lines for the console latency (default 200)\n"
            "  --only X      measure at rest only the driver or only the two floors\n"
            "  --idle-only   the idle window alone (for profiling the idle driver)\n"
            "  --pid-report  say on stderr each program's pid as the idle window starts\n"
            "  --strict      exit status 1 when a target fails (otherwise 0)\n"
            "  --dump DIR    write the raw gaps and latencies there, one per line (ms)\n"
            "  --load        the load runs (on by default): busy loops on every core, the\n"
            "                parent sending a numbered block every 16 ms, the rig at\n"
            "                SCHED_FIFO %d; the driver as started, then with -rt-priority 0\n"
            "  --no-load     leave them out\n"
            "  --load-only   only those (no idle window, no latencies)\n"
            "  --load-seconds S  length of each load run (default 60, at most 480)\n"
            "  --busy-per-core N busy loops a core (default 2)\n"
            "  --latency     then the audio latency runs: numbered blocks from a parent\n"
            "                pattern to the SPI peer, and the peer's answers to UDP 20002,\n"
            "                with the driver's default and with -audio-fifo\n"
            "  --latency-only  only those (no idle window, no load)\n"
            "  --patterns L  which of them, e.g. 'ab' (default abcde): a 16 ms +-2 ms jitter,\n"
            "                b a 64 ms stall at 3 s, c 10 blocks at once then 16 ms,\n"
            "                d a clock 1 %% fast, e 8 blocks in one datagram per 128 ms\n"
            "  --latency-scale F  patterns F times as long (default 1: 15 s, d 30 s)\n"
            "Runs %s and %s;\n"
            "needs UDP 20002-20004, 20012 and 20013 free: see run-bench.sh.\n",
            LoadRun::kRigPriority, ZMA_DRIVER_PATH, ZMA_BENCH_REF_PATH);
}

// -1 to go on; else the exit status, after the usage.
int parse(const QStringList& args, BenchOptions& o)
{
    rig::ProgramOptions opts("zma-bench", usage);
    opts.number("--seconds", &o.seconds, [](double s) { return s >= 1; });
    opts.number("--warmup", &o.warmup, [](double s) { return s >= 0; });
    opts.number("--dials", &o.dials, [](int n) { return n > 0; });
    opts.number("--opens", &o.opens, [](int n) { return n > 0; });
    opts.option("--only", [&](const QString& v) {
        o.driver = v == "driver";
        o.reference = v == "ref";
        return o.driver || o.reference;
    });
    opts.option("--dump", [&](const QString& v) { o.dumpDir = v; return true; });
    opts.option("--patterns", [&](const QString& v) { o.patterns = v; return QRegularExpression("^[a-e]+$").match(v).hasMatch(); });
    opts.number("--latency-scale", &o.latencyScale, [](double f) { return f > 0; });
    // The SPI peer keeps the last nine minutes of exchanges, where the blocks are looked for.
    opts.number("--load-seconds", &o.loadSeconds, [](double s) { return s >= 1 && s <= 480; });
    opts.number("--busy-per-core", &o.busyPerCore, [](int n) { return n >= 0; });
    bool load = false, noLoad = false, loadOnly = false, latencyOnly = false;
    for (auto [name, to] : {std::pair{"--idle-only", &o.idleOnly}, {"--pid-report", &o.pidReport},
                            {"--latency", &o.latency}, {"--latency-only", &latencyOnly}, {"--load", &load},
                            {"--no-load", &noLoad}, {"--load-only", &loadOnly}, {"--strict", &o.strict}})
        opts.flag(name, to);
    if (const int status = opts.parse(args); status >= 0)
        return status;
    // The load needs the driver; "only" leaves out what it does not name.
    o.latency = o.latency || latencyOnly;
    o.load = (load || loadOnly || (!noLoad && !o.idleOnly && !latencyOnly)) && (o.driver || loadOnly);
    if (latencyOnly || loadOnly) {
        o.driver = o.reference = false;
        o.load = loadOnly || load;
    }
    return -1;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::signal(SIGPIPE, SIG_IGN); // a driver that dies must not take us along
    BenchOptions o;
    if (const int status = parse(app.arguments().mid(1), o); status >= 0)
        return status;
    QStringList parts;
    if (o.driver || o.reference)
        parts << QString("%1 s idle window").arg(o.seconds) << (o.driver && !o.idleOnly ? "latencies" : "");
    if (o.load)
        parts << QString("%1 s load runs").arg(o.loadSeconds);
    if (o.latency)
        parts << "audio latency patterns";
    parts.removeAll(QString());
    say("zma-bench: %s; %.0f s to settle before each; load average now %s\n", qPrintable(parts.join(", ")), o.warmup,
        qPrintable(rig::MachineSample::take().loadavg));
    DriverRun d;
    if (o.driver || o.reference)
        d.run(o);

    std::vector<LoadRun> loadRuns{{"as started", {}}, {"-rt-priority 0", {"-rt-priority", "0"}}};
    const bool rigAtFifo = o.load && LoadRun::raiseRig();
    if (o.load) {
        if (!rigAtFifo)
            loadRuns.pop_back(); // the same as the first where nothing may run at real-time priority
        for (LoadRun& r : loadRuns)
            r.run(o);
        LoadRun::lowerRig();
    }

    const auto patterns = Parent::patterns(o.patterns, o.latencyScale);
    LatencyRun plain("default", {}), fifo("-audio-fifo", {"-audio-fifo"});
    for (LatencyRun* run : {&plain, &fifo})
        if (o.latency)
            run->run(patterns, o.warmup);

    rig::Verdict verdict;
    int failed = 0;
    if (o.driver || o.reference) {
        IdleReport report(o, d, verdict);
        failed |= report.print();
        if (!o.dumpDir.isEmpty())
            report.dump(o.dumpDir);
    }
    if (o.load) {
        LoadRun::report(loadRuns, rigAtFifo, verdict);
        failed |= std::any_of(loadRuns.begin(), loadRuns.end(), [](const LoadRun& r) { return !r.ran; });
    }
    if (o.latency)
        failed |= !LatencyRun::report(patterns, {&plain, &fifo});
    failed |= verdict.failed > 0;
    say("\nzma-bench: %d passed, %d failed%s\n", verdict.passed, verdict.failed,
        failed && verdict.failed == 0 ? "; the measurement itself looks wrong (see above)" : "");
    return o.strict ? failed : 0;
}
