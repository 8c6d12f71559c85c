#include "rig/machinesample.h"
#include "rig/runenv.h"

#include <QList>

namespace rig {

MachineSample MachineSample::take()
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
    const QList<QByteArray> load = readFile("/proc/loadavg").split(' ');
    m.loadavg = QString::fromLatin1(load.mid(0, 3).join(' '));
    return m;
}

qint64 MachineSample::cpuPressureUs()
{
    const QByteArray text = readFile("/proc/pressure/cpu");
    const int at = text.indexOf("total=");
    return at < 0 ? -1 : text.mid(at + 6, text.indexOf('\n', at) - at - 6).toLongLong();
}

} // namespace rig
