// zma-soak: runs the built zma-driver for minutes against the fake shield
// (a pty) and the SPI peer while faults come at random moments, plays calls
// through it, then prints what it counted with a PASS/FAIL line per figure.
// The driver binds fixed UDP ports: run it through run-soak.sh, which gives
// it a private network namespace.

#include "soak.h"
#include "rig/programoptions.h"

#include <QCoreApplication>
#include <csignal>
#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::signal(SIGPIPE, SIG_IGN); // a driver that dies must not take us along
    double minutes = 10;
    quint32 seed = QRandomGenerator::system()->generate();
    bool verbose = false;
    rig::ProgramOptions opts("zma-soak", [](FILE* to) {
        fprintf(to,
                "usage: zma-soak [--minutes M] [--seed N] [--verbose]\n"
                "  runs %s for M minutes (default 10) against a fake shield and SPI peer,\n"
                "  with faults at random moments (seeded; the seed is printed), and prints\n"
                "  its figures with PASS/FAIL lines. Needs UDP 20002-20004: see run-soak.sh.\n",
                ZMA_DRIVER_PATH);
    });
    opts.flag("--verbose", &verbose);
    opts.number("--minutes", &minutes, [](double m) { return m > 0; });
    opts.number("--seed", &seed);
    if (const int status = opts.parse(app.arguments().mid(1)); status >= 0)
        return status;
    return Soak(minutes, seed, verbose).run();
}
