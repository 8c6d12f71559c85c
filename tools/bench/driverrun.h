#ifndef DRIVERRUN_H
#define DRIVERRUN_H

// The driver at rest with the two floors beside it in the same window; then,
// the floors stopped, the latency from a shield frame to its status line and
// from a console command to its frame.

#include "idlewindow.h"

#include <QRandomGenerator>

class BenchRig;
struct BenchOptions;

class DriverRun
{
public:
    struct Latency {
        std::vector<double> ms;
        int missing = 0;
        void add(qint64 sentNs, qint64 seenNs) // seenNs < 0: it never came
        {
            if (seenNs >= 0)
                ms.push_back((seenNs - sentNs) / 1e6);
            else
                ++missing;
        }
    };

    IdleWindow idle;
    Latency dialLine;  // dial frame written -> "dial N" read from stdout
    Latency dialCall;  // dial frame written -> call frame read from the line
    Latency openFrame; // "open 1" written to stdin -> its frame read from the line
    int openRepeats = 0;
    qint64 rssAfterLatency = -1;

    // The driver, the floors or both, as the options say.
    void run(const BenchOptions& o);

private:
    void dial(BenchRig& rig, int n);
    void open(BenchRig& rig);
    QRandomGenerator random{20240}; // the gaps: not in step with the driver's ticks
};

#endif
