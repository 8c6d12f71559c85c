#include "rig/runenv.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <ctime>
#include <unistd.h>

namespace rig {

double timeScale()
{
    static const double scale = [] {
        bool ok = false;
        const double f = qEnvironmentVariable("ZMA_TEST_TIME_SCALE").toDouble(&ok);
        return ok && f >= 1 ? f : 1.0;
    }();
    return scale;
}

QStringList emulator()
{
    static const QStringList words = QProcess::splitCommand(qEnvironmentVariable("ZMA_TEST_EMULATOR"));
    return words;
}

void spin(int ms)
{
    QDeadlineTimer deadline(ms, Qt::PreciseTimer);
    do {
        QCoreApplication::processEvents(QEventLoop::AllEvents, int(qMax<qint64>(deadline.remainingTime(), 0)));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        const qint64 left = deadline.remainingTime();
        if (left > 0)
            ::usleep(useconds_t(qMin<qint64>(left, 10) * 1000));
    } while (!deadline.hasExpired());
}

bool waitUntil(const std::function<bool()>& cond, int timeoutMs, const std::function<void()>& pump)
{
    QElapsedTimer t;
    t.start();
    for (;;) {
        if (pump)
            pump();
        if (cond())
            return true;
        if (t.elapsed() > timeoutMs)
            return false;
        spin(1);
    }
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

static qint64 clockNs(clockid_t id)
{
    timespec ts{};
    clock_gettime(id, &ts);
    return qint64(ts.tv_sec) * kSec + ts.tv_nsec;
}

qint64 monotonicNs() { return clockNs(CLOCK_MONOTONIC); }
qint64 realtimeNs() { return clockNs(CLOCK_REALTIME); }

} // namespace rig
