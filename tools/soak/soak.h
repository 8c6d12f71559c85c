#ifndef SOAK_SOAK_H
#define SOAK_SOAK_H

// The run: calls through the driver while the faults come, a wind-down, the
// driver's answers at the end, then the figures with a PASS/FAIL line each.

#include "faultplan.h"
#include "world.h"

class Soak
{
public:
    Soak(double minutes, quint32 seed, bool verbose);
    int run();

private:
    // The calls as the shield and the parent make them, each step awaited.
    void call();
    bool ring();
    bool door(int which);
    bool pickup();
    bool drop(bool byParent);

    void windDown();
    void finalChecks();
    int report();

    const qint64 runMs;
    const quint32 seed;
    World w;
    FaultPlan faults{w};
    rig::Verdict verdict;
    qint64 rssBoot = -1, rssEnd = -1, rssMax = -1, nextRssAt = 0, nextCpuAt = 0, nextProgressAt = 60000, endMs = 0;
    double cpuBoot = 0, cpuEnd = 0, busiest5s = 0;
    QList<QPair<qint64, double>> cpuSamples; // the last 5 s
    rig::ProcSample::FdKinds fdBoot, fdEnd;
    QStringList lastChecks;
    bool lastChecksOk = false, exitedNormally = false;
    int exitCode = -1;
};

#endif
