#ifndef RIG_MACHINESAMPLE_H
#define RIG_MACHINESAMPLE_H

// What /proc says of the whole machine at one moment.

#include "rig/runenv.h"

namespace rig {

struct MachineSample {
    qint64 atNs = 0;  // CLOCK_MONOTONIC
    qint64 busy = 0;  // jiffies not idle, all CPUs
    qint64 total = 0; // all jiffies, all CPUs
    QString loadavg;  // the first three fields of /proc/loadavg

    static MachineSample take()
    {
        MachineSample m;
        m.atNs = monotonicNs();
        const QByteArray stat = readFile("/proc/stat");
        const QList<QByteArray> f = stat.left(stat.indexOf('\n')).simplified().split(' ');
        // cpu user nice system idle iowait irq softirq steal ...
        for (int i = 1; i < f.size() && i <= 8; ++i) {
            const qint64 v = f.at(i).toLongLong();
            m.total += v;
            if (i != 4 && i != 5)
                m.busy += v;
        }
        m.loadavg = QString::fromLatin1(readFile("/proc/loadavg").split(' ').mid(0, 3).join(' '));
        return m;
    }
    // Microseconds some task waited for a CPU (/proc/pressure/cpu), -1 unknown.
    static qint64 cpuPressureUs()
    {
        const QByteArray text = readFile("/proc/pressure/cpu");
        const int at = text.indexOf("total=");
        return at < 0 ? -1 : text.mid(at + 6, text.indexOf('\n', at) - at - 6).toLongLong();
    }
};

} // namespace rig

#endif
