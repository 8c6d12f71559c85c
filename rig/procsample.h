#ifndef RIG_PROCSAMPLE_H
#define RIG_PROCSAMPLE_H

// What /proc says of one process at one moment.

#include <QMap>
#include <QPair>
#include <QString>
#include <map>

namespace rig {

struct ProcSample {
    qint64 atNs = 0;    // CLOCK_MONOTONIC
    qint64 ticks = -1;  // utime + stime of all its threads, living or gone, in clock ticks
    qint64 runNs = -1;  // time on a CPU of its living threads (schedstat), nanoseconds
    qint64 rssKb = -1;  // VmRSS
    QMap<int, QPair<QString, qint64>> threads; // tid -> name, run ns
    // tid -> context switches (voluntary + not): how often the thread woke.
    QMap<int, qint64> threadSwitches;

    static ProcSample take(qint64 pid);
    double cpuSeconds() const; // ticks in seconds, -1 unknown

    // Its descriptors by kind ("socket", "pipe", "anon_inode:[eventfd]", a path).
    using FdKinds = std::map<QString, int>;
    static FdKinds fdKinds(qint64 pid);
    static int fdCount(const FdKinds& kinds);
    static QString fdText(const FdKinds& kinds);
    // Time a thread has waited for a CPU (run queue), in ns; -1 if unknown.
    static qint64 runQueueWaitNs(qint64 pid, qint64 tid);
    static qint64 threadNamed(qint64 pid, const QByteArray& name); // tid, -1 if none
};

// Percent of one core used between two samples: by ticks, by run time.
double cpuPercentTicks(const ProcSample& a, const ProcSample& b);
double cpuPercentRun(const ProcSample& a, const ProcSample& b);

} // namespace rig

#endif
