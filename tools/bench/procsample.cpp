#include "procsample.h"

#include <QDir>
#include <QFile>
#include <ctime>
#include <unistd.h>

namespace {

QByteArray slurp(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The fields of a stat line after the command name, which may hold spaces.
QList<QByteArray> statFields(const QByteArray& stat)
{
    const int close = stat.lastIndexOf(')');
    return close < 0 ? QList<QByteArray>() : stat.mid(close + 2).split(' ');
}

} // namespace

qint64 monotonicNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

ProcSample ProcSample::take(qint64 pid)
{
    ProcSample s;
    s.atNs = monotonicNs();
    const QString dir = QStringLiteral("/proc/%1").arg(pid);
    const QList<QByteArray> f = statFields(slurp(dir + "/stat"));
    if (f.size() > 12)
        s.ticks = f.at(11).toLongLong() + f.at(12).toLongLong(); // utime, stime
    for (const QByteArray& line : slurp(dir + "/status").split('\n'))
        if (line.startsWith("VmRSS:"))
            s.rssKb = line.mid(6).trimmed().split(' ').first().toLongLong();
    qint64 run = 0;
    bool any = false;
    for (const QString& tid : QDir(dir + "/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QByteArray sched = slurp(dir + "/task/" + tid + "/schedstat");
        if (sched.isEmpty())
            continue;
        const qint64 ns = sched.split(' ').first().toLongLong();
        run += ns;
        any = true;
        s.threads.insert(tid.toInt(), {QString::fromUtf8(slurp(dir + "/task/" + tid + "/comm").trimmed()), ns});
    }
    if (any)
        s.runNs = run;
    return s;
}

double cpuPercentTicks(const ProcSample& a, const ProcSample& b)
{
    const double s = (b.atNs - a.atNs) / 1e9;
    if (a.ticks < 0 || b.ticks < 0 || s <= 0)
        return -1;
    return double(b.ticks - a.ticks) / double(sysconf(_SC_CLK_TCK)) / s * 100.0;
}

double cpuPercentRun(const ProcSample& a, const ProcSample& b)
{
    const double s = (b.atNs - a.atNs) / 1e9;
    if (a.runNs < 0 || b.runNs < 0 || s <= 0)
        return -1;
    return double(b.runNs - a.runNs) / 1e9 / s * 100.0;
}

MachineSample MachineSample::take()
{
    MachineSample m;
    m.atNs = monotonicNs();
    const QByteArray stat = slurp("/proc/stat");
    const QList<QByteArray> f = stat.left(stat.indexOf('\n')).simplified().split(' ');
    // cpu user nice system idle iowait irq softirq steal ...
    for (int i = 1; i < f.size() && i <= 8; ++i) {
        const qint64 v = f.at(i).toLongLong();
        m.total += v;
        if (i != 4 && i != 5)
            m.busy += v;
    }
    const QList<QByteArray> load = slurp("/proc/loadavg").split(' ');
    m.loadavg = QString::fromLatin1(load.mid(0, 3).join(' '));
    return m;
}
