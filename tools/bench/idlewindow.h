#ifndef IDLEWINDOW_H
#define IDLEWINDOW_H

// One program's idle window (no call, no console input): its audio cadence
// at UDP 20002, CPU and RSS, and how busy the rest of the machine was.

#include "benchrig.h"
#include "rig/cadence.h"
#include "rig/machinesample.h"
#include "rig/procsample.h"

struct BenchOptions;

class IdleWindow
{
public:
    static constexpr double kPeriodMs = 16.0;
    static constexpr int kBlockBytes = 512;

    bool ran = false;
    QString name;
    qint64 pid = -1;
    double seconds = 0;
    rig::Cadence cadence;
    rig::ProcSample p0, p1, self0, self1;
    rig::MachineSample m0, m1;
    qint64 rssMin = -1, rssMax = -1;
    int spiExchanges = -1; // during the window, with the rig's SPI peer
    qint64 logDatagrams = 0;
    // A reference running beside the measured program in the same window:
    // the CPU ratio of the two is free of the drift between two windows.
    rig::ProcSample beside0, beside1;
    qint64 besidePid = -1;
    int besideSpiExchanges = -1;

    // Serves the rig for the window while sampling pid (and besidePid).
    static IdleWindow record(BenchRig& rig, const QString& name, qint64 pid, const BenchOptions& o,
                             qint64 besidePid = -1);
    // The reference alone, after its settling time; not ran if it failed.
    static IdleWindow ofReferenceAlone(const BenchOptions& o);

    double cpu() const { return rig::cpuPercentTicks(p0, p1); }
    double cpuRun() const { return rig::cpuPercentRun(p0, p1); }
    double besideCpuRun() const { return rig::cpuPercentRun(beside0, beside1); }
    bool hasBeside() const { return ran && beside1.runNs > 0; }
    // Machine busy outside the two processes of the window (the measured
    // one and the bench), as % of all cores; -1 unknown.
    double othersPercent() const;
};

#endif
