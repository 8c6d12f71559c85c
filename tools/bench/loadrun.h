#ifndef LOADRUN_H
#define LOADRUN_H

// The driver under load: busy loops at normal priority on every core while
// the parent sends one numbered block every 16 ms; the rig's own threads
// (the SPI peer, the parent's sender, the UDP receiver) at a real-time
// priority above the driver's, so they keep time and what is measured is
// the driver. How its audio kept the 16 ms cadence, and how many of the
// parent's blocks never reached the shield.

#include "latencyrun.h"
#include "rig/cadence.h"
#include "rig/verdict.h"

struct BenchOptions;

class LoadRun
{
public:
    static constexpr int kRigPriority = 20; // SCHED_FIFO, above the driver's default 10

    LoadRun(const QString& label, const QStringList& args) : label(label), args(args) {}

    // The calling thread, and the threads it starts from then on, at the
    // rig's priority; false, with the reason said, where the system refuses.
    static bool raiseRig();
    static void lowerRig();

    // One driver started with args (at SCHED_OTHER whatever the bench runs
    // at), settled, then the load and the parent's blocks for the run's length.
    bool run(const BenchOptions& o);

    // The runs side by side; the first is held to the targets where the rig
    // kept time (rigAtFifo).
    static void report(const std::vector<LoadRun>& runs, bool rigAtFifo, rig::Verdict& verdict);

    QString label;
    QStringList args;
    bool ran = false;
    int busyLoops = 0;
    rig::Cadence cadence;        // at UDP 20002 while the parent sent
    LatencyRun::Delay blocks;    // the parent's blocks to the SPI peer
    double machineBusy = -1;     // % of all cores while the parent sent
    QString policies;            // the driver's main thread and its real-time ones
    QList<QByteArray> stderrLines; // the driver's first ones
};

#endif
