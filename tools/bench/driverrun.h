#ifndef DRIVERRUN_H
#define DRIVERRUN_H

// The driver at rest with the two floors beside it in one idle window (no
// call, no console input): each one's audio cadence, CPU, wake-ups and RSS,
// and how busy the rest of the machine was; then, the floors stopped, the
// latency from a shield frame to its status line and from a console command
// to its frame.

#include "benchrig.h"
#include "rig/cadence.h"
#include "rig/machinesample.h"
#include "rig/procsample.h"

#include <QRandomGenerator>

struct BenchOptions;

class DriverRun
{
public:
    // One program over the idle window.
    struct ProgramWindow {
        bool ran = false;
        QString name;
        qint64 pid = -1;
        rig::Cadence cadence;
        rig::ProcSample p0, p1;
        qint64 rssMin = -1, rssMax = -1;
        int spiExchanges = -1; // with its SPI peer, during the window

        double cpuRun() const { return rig::cpuPercentRun(p0, p1); }
        // Its threads' context switches a second over the window; NaN unknown.
        double wakeups() const;
    };
    struct Latency {
        std::vector<double> ms;
        int missing = 0;
        // seenNs < 0: it never came.
        void add(qint64 sentNs, qint64 seenNs) { seenNs < 0 ? void(++missing) : ms.push_back((seenNs - sentNs) / 1e6); }
    };

    // The idle window.
    double seconds = 0;
    ProgramWindow driver, design, physical;
    rig::ProcSample self0, self1; // the bench's own
    rig::MachineSample m0, m1;
    qint64 logDatagrams = 0;

    Latency dialLine;  // dial frame written -> "dial N" read from stdout
    Latency dialCall;  // dial frame written -> call frame read from the line
    Latency openFrame; // "open 1" written to stdin -> its frame read from the line
    int openRepeats = 0;
    qint64 rssAfterLatency = -1;

    // The driver, the floors or both, as the options say.
    void run(const BenchOptions& o);

    // Machine busy outside the programs of the window and the bench, as %
    // of all cores; -1 unknown.
    double othersPercent() const;

private:
    // Serves the rig for the window while sampling whichever of the driver
    // and the floors run (a pid of -1 does not).
    void recordIdle(BenchRig& rig, const BenchOptions& o);
    void dial(BenchRig& rig, int n);
    void open(BenchRig& rig);
    QRandomGenerator random{20240}; // the gaps: not in step with the driver's ticks
};

#endif
