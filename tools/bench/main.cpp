// zma-bench: measures the built zma-driver at rest against a simulated shield
// and then zma-bench-ref, the floor of the same design, on the same ports for
// the same time; then the driver's latencies and, with --latency, the audio's
// delay through it both ways (latencyrun.h). The driver binds fixed UDP ports:
// run it through run-bench.sh, which gives it a private network namespace.

#include "benchoptions.h"
#include "driverrun.h"
#include "idlereport.h"
#include "latencyrun.h"
#include "rig/machinesample.h"
#include "rig/say.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <csignal>
#include <functional>
#include <map>

namespace {

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

// -1 to go on; else the exit status, after the usage.
int parse(const QStringList& args, BenchOptions& o)
{
    bool ok = false;
    // Each takes the next argument; false when it will not do.
    const std::map<QString, std::function<bool(const QString&)>> valued = {
        {"--seconds", [&](const QString& v) { o.seconds = v.toDouble(&ok); return ok && o.seconds >= 1; }},
        {"--warmup", [&](const QString& v) { o.warmup = v.toDouble(&ok); return ok && o.warmup >= 0; }},
        {"--dials", [&](const QString& v) { o.dials = v.toInt(&ok); return ok && o.dials > 0; }},
        {"--opens", [&](const QString& v) { o.opens = v.toInt(&ok); return ok && o.opens > 0; }},
        {"--only", [&](const QString& v) {
             o.driver = v == "driver";
             o.reference = v == "ref";
             return o.driver || o.reference;
         }},
        {"--dump", [&](const QString& v) { o.dumpDir = v; return true; }},
        {"--patterns", [&](const QString& v) { o.patterns = v; return QRegularExpression("^[a-e]+$").match(v).hasMatch(); }},
        {"--latency-scale", [&](const QString& v) { o.latencyScale = v.toDouble(&ok); return ok && o.latencyScale > 0; }},
    };
    const std::map<QString, bool*> flags = {{"--idle-only", &o.idleOnly}, {"--pid-report", &o.pidReport},
                                            {"--latency", &o.latency}, {"--latency-only", &o.latency},
                                            {"--strict", &o.strict}};
    for (int i = 0; i < args.size(); ++i) {
        const QString& a = args.at(i);
        if (a == "-h" || a == "--help") {
            usage(stdout);
            return 0;
        }
        if (a == "--latency-only") // no idle windows, no reference
            o.driver = o.reference = false;
        if (flags.count(a))
            *flags.at(a) = true;
        else if (!valued.count(a) || i + 1 == args.size() || !valued.at(a)(args.at(++i))) {
            fprintf(stderr, "zma-bench: bad argument '%s'\n", qPrintable(a));
            usage(stderr);
            return 2;
        }
    }
    return -1;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::signal(SIGPIPE, SIG_IGN); // a driver that dies must not take us along
    BenchOptions o;
    const int status = parse(app.arguments().mid(1), o);
    if (status >= 0)
        return status;
    say("zma-bench: %.0f s idle windows, %.0f s to settle before each; load average now %s\n", o.seconds, o.warmup,
        qPrintable(rig::MachineSample::take().loadavg));
    DriverRun d;
    if (o.driver)
        d.run(o);
    const IdleWindow ref = o.reference ? IdleWindow::ofReferenceAlone(o) : IdleWindow();
    const auto patterns = Parent::patterns(o.patterns, o.latencyScale);
    LatencyRun plain("default", {}), fifo("-audio-fifo", {"-audio-fifo"});
    for (LatencyRun* run : {&plain, &fifo})
        if (o.latency)
            run->run(patterns, o.warmup);
    const bool latencyOk = !o.latency || LatencyRun::report(patterns, {&plain, &fifo});
    if (!o.driver && !o.reference)
        return o.strict && !latencyOk ? 1 : 0;
    IdleReport report(o, d, ref);
    const int failed = report.print() || !latencyOk;
    if (!o.dumpDir.isEmpty())
        report.dump(o.dumpDir);
    return o.strict ? failed : 0;
}
