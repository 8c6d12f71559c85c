#include "rig/driverprocess.h"

#include <QFile>
#include <unistd.h>

namespace rig {

DriverProcess::DriverProcess()
    : env(QProcessEnvironment::systemEnvironment())
{
    env.remove("ZQ_BOARD_SPI");
    env.insert("ZQ_BOARD_SERIAL", "/nonexistent/zma-test-no-port");
}

DriverProcess::~DriverProcess()
{
    // A line that comes while it dies must not reach its owner's counters,
    // gone by now.
    proc.onLine = nullptr;
    proc.onErrorLine = nullptr;
    if (running()) {
        proc.kill();
        proc.waitForFinished(3000);
    }
    // QSerialPort locks the port with /run/lock/LCK..NAME (the path without
    // /dev/, each / as _), which a killed driver leaves behind: ours go, a
    // lock of any other process stays.
    QString name = env.value("ZQ_BOARD_SERIAL");
    if (startedPid <= 0 || name.isEmpty())
        return;
    if (name.startsWith("/dev/"))
        name = name.mid(5);
    name.replace('/', '_');
    const QString lock = "/run/lock/LCK.." + name;
    if (readFile(lock).split('\n').first().trimmed().toLongLong() == startedPid)
        QFile::remove(lock);
}

bool DriverProcess::start(const QStringList& args)
{
    proc.setProcessEnvironment(env);
    proc.start(QStringLiteral(ZMA_DRIVER_PATH), args, emulator());
    const bool started = proc.waitForStarted(5000);
    startedPid = proc.processId();
    return started;
}

void DriverProcess::redirect(int fd, int target)
{
    std::function<void()> before = proc.setup;
    proc.setup = [before, fd, target] {
        if (before)
            before();
        if (target < 0)
            ::close(fd);
        else
            ::dup2(target, fd);
    };
}

QStringList DriverProcess::lines()
{
    drain();
    QStringList l = QString::fromUtf8(out).split('\n');
    l.removeLast(); // the part after the last LF is not a complete line
    return l;
}

} // namespace rig
