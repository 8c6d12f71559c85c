#include "rig/procsample.h"
#include "rig/runenv.h"

#include <QDir>
#include <QFile>
#include <QStringList>
#include <unistd.h>

namespace rig {

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
    int n = 0;
    for (const auto& k : kinds)
        n += k.second;
    return n;
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
    const QList<QByteArray> fields = slurp(QStringLiteral("/proc/%1/task/%2/schedstat").arg(pid).arg(tid)).simplified().split(' ');
    return tid >= 0 && fields.size() >= 2 ? fields.at(1).toLongLong() : -1;
}

qint64 ProcSample::threadNamed(qint64 pid, const QByteArray& name)
{
    const QDir dir(QStringLiteral("/proc/%1/task").arg(pid));
    for (const QString& tid : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        if (slurp(dir.filePath(tid) + "/comm").trimmed() == name)
            return tid.toLongLong();
    return -1;
}

} // namespace rig
