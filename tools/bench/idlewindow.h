#ifndef IDLEWINDOW_H
#define IDLEWINDOW_H

// One idle window (no call, no console input) with the driver and the two
// floors side by side: each one's audio cadence, CPU, wake-ups and RSS, and
// how busy the rest of the machine was.

#include "benchrig.h"
#include "rig/cadence.h"
#include "rig/machinesample.h"
#include "rig/procsample.h"

struct BenchOptions;

// One program over the window.
struct ProgramWindow {
    bool ran = false;
    QString name;
    qint64 pid = -1;
    rig::Cadence cadence;
    rig::ProcSample p0, p1;
    qint64 rssMin = -1, rssMax = -1;
    int spiExchanges = -1; // with its SPI peer, during the window

    double cpu() const { return rig::cpuPercentTicks(p0, p1); }
    double cpuRun() const { return rig::cpuPercentRun(p0, p1); }
    // Its threads' context switches a second over the window; NaN unknown.
    double wakeups() const;
    bool rssFlat(qint64 boundKb) const;
};

class IdleWindow
{
public:
    double seconds = 0;
    ProgramWindow driver, design, physical;
    rig::ProcSample self0, self1; // the bench's own
    rig::MachineSample m0, m1;
    qint64 logDatagrams = 0;

    // Serves the rig for the window while sampling whichever of the driver
    // and the floors run (a pid of -1 does not).
    static IdleWindow record(BenchRig& rig, const BenchOptions& o, qint64 driverPid, qint64 designPid,
                             qint64 physicalPid);

    bool ran() const { return driver.ran || design.ran || physical.ran; }
    // Machine busy outside the programs of the window and the bench, as %
    // of all cores; -1 unknown.
    double othersPercent() const;
};

#endif
