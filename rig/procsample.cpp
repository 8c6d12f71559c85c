#include "rig/procsample.h"
#include "rig/runenv.h"

#include <QDir>
#include <QFile>
#include <QStringList>
#include <numeric>
#include <unistd.h>

namespace rig {

// A CPU time counter's growth over spanNs as percent of one core; perSecond:
// its units in a second; -1 when either reading is unknown.
static double percentOfCore(qint64 from, qint64 to, double perSecond, qint64 spanNs)
{
    const double s = spanNs / 1e9;
    return from < 0 || to < 0 || s <= 0 ? -1 : double(to - from) / perSecond / s * 100.0;
}

ProcSample ProcSample::take(qint64 pid)
{
    ProcSample s;
    s.atNs = monotonicNs();
    const QString dir = QStringLiteral("/proc/%1").arg(pid);
    const QByteArray stat = readFile(dir + "/stat");
    // The fields after the command name, which may hold spaces.
    const QList<QByteArray> f = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    if (f.size() > 12)
        s.ticks = f.at(11).toLongLong() + f.at(12).toLongLong(); // utime, stime
    for (const QByteArray& line : readFile(dir + "/status").split('\n'))
        if (line.startsWith("VmRSS:"))
            s.rssKb = line.mid(6).trimmed().split(' ').first().toLongLong();
    for (const QString& tid : QDir(dir + "/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QByteArray sched = readFile(dir + "/task/" + tid + "/schedstat");
        if (!sched.isEmpty())
            s.threads.insert(tid.toInt(), {QString::fromUtf8(readFile(dir + "/task/" + tid + "/comm").trimmed()),
                                           sched.split(' ').first().toLongLong()});
        qint64 switches = -1;
        for (const QByteArray& line : readFile(dir + "/task/" + tid + "/status").split('\n'))
            if (line.startsWith("voluntary_ctxt_switches:") || line.startsWith("nonvoluntary_ctxt_switches:"))
                switches = qMax<qint64>(switches, 0) + line.mid(line.indexOf(':') + 1).trimmed().toLongLong();
        if (switches >= 0)
            s.threadSwitches.insert(tid.toInt(), switches);
    }
    for (const auto& thread : s.threads) // unknown (-1) until a thread could be read
        s.runNs = qMax<qint64>(s.runNs, 0) + thread.second;
    return s;
}

double cpuPercentTicks(const ProcSample& a, const ProcSample& b)
{
    return percentOfCore(a.ticks, b.ticks, double(sysconf(_SC_CLK_TCK)), b.atNs - a.atNs);
}

double cpuPercentRun(const ProcSample& a, const ProcSample& b)
{
    return percentOfCore(a.runNs, b.runNs, 1e9, b.atNs - a.atNs);
}

double ProcSample::cpuSeconds() const
{
    return ticks < 0 ? -1 : double(ticks) / double(sysconf(_SC_CLK_TCK));
}

ProcSample::FdKinds ProcSample::fdKinds(qint64 pid)
{
    FdKinds kinds;
    const QDir dir(QStringLiteral("/proc/%1/fd").arg(pid));
    for (const QString& name : dir.entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System)) {
        char buf[4096];
        const ssize_t n = ::readlink(QFile::encodeName(dir.filePath(name)).constData(), buf, sizeof buf - 1);
        QString target = QString::fromLocal8Bit(buf, n > 0 ? int(n) : 0);
        const int bracket = target.indexOf(":[");
        if (bracket > 0 && !target.startsWith("anon_inode"))
            target = target.left(bracket);
        if (target.startsWith("/dev/pts/"))
            target = "/dev/pts/N";
        ++kinds[target.isEmpty() ? QStringLiteral("?") : target];
    }
    return kinds;
}

int ProcSample::fdCount(const FdKinds& kinds)
{
    return std::accumulate(kinds.begin(), kinds.end(), 0, [](int n, const auto& k) { return n + k.second; });
}

QString ProcSample::fdText(const FdKinds& kinds)
{
    QStringList parts;
    for (const auto& k : kinds)
        parts << QStringLiteral("%1 %2").arg(k.second).arg(k.first);
    return parts.join(", ");
}

qint64 ProcSample::runQueueWaitNs(qint64 pid, qint64 tid)
{
    const QByteArray stat = readFile(QStringLiteral("/proc/%1/task/%2/schedstat").arg(pid).arg(tid));
    const QList<QByteArray> fields = stat.simplified().split(' ');
    return tid >= 0 && fields.size() >= 2 ? fields.at(1).toLongLong() : -1;
}

qint64 ProcSample::threadNamed(qint64 pid, const QByteArray& name)
{
    const QDir dir(QStringLiteral("/proc/%1/task").arg(pid));
    for (const QString& tid : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        if (readFile(dir.filePath(tid) + "/comm").trimmed() == name)
            return tid.toLongLong();
    return -1;
}

} // namespace rig
