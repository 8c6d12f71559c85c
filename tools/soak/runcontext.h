#ifndef SOAK_RUNCONTEXT_H
#define SOAK_RUNCONTEXT_H

// What every part of the run shares: its clock, its seeded choices and its
// notes. Below the world, so the parts it holds need not know it.

#include "rig/say.h"

#include <QElapsedTimer>
#include <QString>
#include <QRandomGenerator>

class RunContext
{
public:
    RunContext(quint32 seed, bool verbose) : verbose(verbose), rng(seed) {}
    qint64 now() const { return clock.elapsed(); }
    int uni(int lo, int hi) { return lo + int(rng.bounded(quint32(hi - lo + 1))); }
    bool chance(int percent) { return uni(1, 100) <= percent; }
    void note(const QString& what) const { if (verbose) say("  [%7.2f s] %s\n", now() / 1000.0, qPrintable(what)); }

    const bool verbose;
    QRandomGenerator rng;
    QElapsedTimer clock; // started by the world once it is built
};

#endif
