#ifndef RIG_MACHINESAMPLE_H
#define RIG_MACHINESAMPLE_H

// What /proc says of the whole machine at one moment.

#include <QString>

namespace rig {

struct MachineSample {
    qint64 atNs = 0;  // CLOCK_MONOTONIC
    qint64 busy = 0;  // jiffies not idle, all CPUs
    qint64 total = 0; // all jiffies, all CPUs
    QString loadavg;  // the first three fields of /proc/loadavg

    static MachineSample take();
    // Microseconds some task waited for a CPU (/proc/pressure/cpu), -1 unknown.
    static qint64 cpuPressureUs();
};

} // namespace rig

#endif
