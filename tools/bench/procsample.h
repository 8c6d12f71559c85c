#ifndef PROCSAMPLE_H
#define PROCSAMPLE_H

// What /proc says of one process, and of the whole machine, at one moment.

#include <QMap>
#include <QPair>
#include <QString>

qint64 monotonicNs();

struct ProcSample {
    qint64 atNs = 0;    // CLOCK_MONOTONIC
    qint64 ticks = -1;  // utime + stime of all its threads, living or gone, in clock ticks
    qint64 runNs = -1;  // time on a CPU of its living threads (schedstat), nanoseconds
    qint64 rssKb = -1;  // VmRSS
    QMap<int, QPair<QString, qint64>> threads; // tid -> name, run ns

    static ProcSample take(qint64 pid);
};

// Percent of one core used between two samples: by ticks, by run time.
double cpuPercentTicks(const ProcSample& a, const ProcSample& b);
double cpuPercentRun(const ProcSample& a, const ProcSample& b);

struct MachineSample {
    qint64 atNs = 0;
    qint64 busy = 0;  // jiffies not idle, all CPUs
    qint64 total = 0; // all jiffies, all CPUs
    QString loadavg;  // the first three fields of /proc/loadavg

    static MachineSample take();
};

#endif
