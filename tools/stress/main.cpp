// zma-stress: runs the built zma-driver against a fake shield under floods
// and stalls, prints what it measured and a PASS/FAIL line per scenario.
// The driver binds fixed UDP ports: run it through run-stress.sh, which gives
// it a private network namespace.

#include "scenario.h"
#include "rig/programoptions.h"

#include <QCoreApplication>
#include <csignal>
#include <cstdio>

namespace {

// %s is the path of the driver it runs.
const char kUsage[] =
    "usage: zma-stress [--seconds S] [--count N] SCENARIO... | all\n"
    "  line-flood     valid ignored frames at line rate, dials inside (60 s)\n"
    "  junk-flood     random bytes as fast as the pty takes them (20 s)\n"
    "  stdout-stall   stdout not read while calls ring (10 s)\n"
    "  stderr-stall   stderr not read, N oversized datagrams to 20003 (100000)\n"
    "  command-flood  N lines 'open 1' on stdin (10000000)\n"
    "--seconds sets the duration of the first three, --count the N of the last two.\n"
    "Runs %s; needs UDP 20002-20004 free: see run-stress.sh.\n";

} // namespace

int main(int argc, char** argv)
{
    double seconds = -1; // not given: each scenario's own
    qint64 count = -1;
    QCoreApplication app(argc, argv);
    ::signal(SIGPIPE, SIG_IGN); // a driver that dies must not take us along
    QStringList chosen, failed;
    const QStringList known = {"line-flood", "junk-flood", "stdout-stall", "stderr-stall", "command-flood"};
    const std::function<bool()> scenarios[] = {
        [&] { return lineFlood(seconds > 0 ? seconds : 60); },
        [&] { return junkFlood(seconds > 0 ? seconds : 20); },
        [&] { return stdoutStall(seconds > 0 ? seconds : 10); },
        [&] { return stderrStall(count > 0 ? count : 100000); },
        [&] { return commandFlood(count > 0 ? count : 10000000); },
    };
    rig::ProgramOptions opts("zma-stress", [](FILE* to) { fprintf(to, kUsage, ZMA_DRIVER_PATH); });
    opts.number("--seconds", &seconds, [](double s) { return s > 0; });
    opts.number("--count", &count, [](qint64 n) { return n > 0; });
    opts.words([&](const QString& a) {
        if (a != "all" && !known.contains(a))
            return false;
        chosen << (a == "all" ? known : QStringList(a));
        return true;
    }, true);
    if (const int status = opts.parse(app.arguments().mid(1)); status >= 0)
        return status;
    for (const QString& name : chosen)
        if (!scenarios[known.indexOf(name)]())
            failed << name;
    say("zma-stress: %d of %d scenarios passed%s%s\n", int(chosen.size() - failed.size()), int(chosen.size()),
        failed.isEmpty() ? "" : "; failed: ", qPrintable(failed.join(' ')));
    return failed.isEmpty() ? 0 : 1;
}
