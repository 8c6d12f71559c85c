// zma-soak: runs the built zma-driver for minutes against the fake shield
// (a pty) and the SPI peer while faults come at random moments, plays calls
// through it, then prints what it counted with a PASS/FAIL line per figure.
// The driver binds fixed UDP ports: run it through run-soak.sh, which gives
// it a private network namespace.

#include "soak.h"

#include <QCoreApplication>
#include <csignal>
#include <cstdio>

namespace {

void usage(FILE* to)
{
    fprintf(to,
            "usage: zma-soak [--minutes M] [--seed N] [--verbose]\n"
            "  runs %s for M minutes (default 10) against a fake shield and SPI peer,\n"
            "  with faults at random moments (seeded; the seed is printed), and prints\n"
            "  its figures with PASS/FAIL lines. Needs UDP 20002-20004: see run-soak.sh.\n",
            ZMA_DRIVER_PATH);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::signal(SIGPIPE, SIG_IGN); // a driver that dies must not take us along
    double minutes = 10;
    quint32 seed = QRandomGenerator::system()->generate();
    bool verbose = false;
    QStringList args = app.arguments().mid(1);
    while (!args.isEmpty()) {
        const QString a = args.takeFirst();
        bool ok = true;
        if (a == "-h" || a == "--help") {
            usage(stdout);
            return 0;
        }
        if (a == "--verbose")
            verbose = true;
        else if (a == "--minutes" && !args.isEmpty())
            ok = (minutes = args.takeFirst().toDouble()) > 0; // not a number reads as 0
        else if (a == "--seed" && !args.isEmpty())
            seed = args.takeFirst().toUInt(&ok);
        else
            ok = false;
        if (!ok) {
            fprintf(stderr, "zma-soak: bad argument '%s'\n", qPrintable(a));
            usage(stderr);
            return 2;
        }
    }
    return Soak(minutes, seed, verbose).run();
}
