#include "rig/driverprocess.h"
#include "rig/procsample.h"
#include "rig/runenv.h"

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
    if (proc.state() != QProcess::NotRunning) {
        proc.kill();
        proc.waitForFinished(3000);
    }
    removeLeftLock();
}

bool DriverProcess::start(const QStringList& args)
{
    proc.setProcessEnvironment(env);
    proc.start(QStringLiteral(ZMA_DRIVER_PATH), args, emulator());
    const bool started = proc.waitForStarted(5000);
    startedPid = proc.processId();
    return started;
}

void DriverProcess::removeLeftLock()
{
    // QSerialPort locks the port with /run/lock/LCK..NAME (the path without
    // /dev/, each / as _), which a killed driver leaves behind: ours go, a
    // lock of any other process stays.
    QString name = env.value("ZQ_BOARD_SERIAL");
    if (startedPid <= 0 || name.isEmpty())
        return;
    if (name.startsWith("/dev/"))
        name = name.mid(5);
    name.replace('/', '_');
    QFile lock("/run/lock/LCK.." + name);
    if (lock.open(QIODevice::ReadOnly) && lock.readLine().trimmed().toLongLong() == startedPid) {
        lock.close();
        lock.remove();
    }
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

void DriverProcess::writeLine(const QByteArray& line)
{
    writeRaw(line + '\n');
}

void DriverProcess::writeRaw(const QByteArray& bytes)
{
    proc.write(bytes);
    proc.waitForBytesWritten(1000);
}

void DriverProcess::closeStdin()
{
    proc.closeWriteChannel();
}

void DriverProcess::drain()
{
    out += proc.readAllStandardOutput();
    err += proc.readAllStandardError();
}

QStringList DriverProcess::lines()
{
    drain();
    QStringList l = QString::fromUtf8(out).split('\n');
    l.removeLast(); // the part after the last LF is not a complete line
    return l;
}

QByteArray DriverProcess::stdoutBytes()
{
    drain();
    return out;
}

QByteArray DriverProcess::stderrBytes()
{
    drain();
    return err;
}

bool DriverProcess::waitLine(const QString& line, int timeoutMs, const std::function<void()>& pump)
{
    return waitUntil([&] { return lines().contains(line); }, timeoutMs, pump);
}

bool DriverProcess::waitStderr(const QByteArray& text, int timeoutMs)
{
    return waitUntil([&] { return stderrBytes().contains(text); }, timeoutMs);
}

bool DriverProcess::waitExit(int timeoutMs, const std::function<void()>& pump)
{
    return waitUntil([&] { return proc.state() == QProcess::NotRunning; }, timeoutMs, pump);
}

bool DriverProcess::running() const
{
    return proc.state() != QProcess::NotRunning;
}

int DriverProcess::exitCode() const
{
    return proc.exitCode();
}

QProcess::ExitStatus DriverProcess::exitStatus() const
{
    return proc.exitStatus();
}

qint64 DriverProcess::pid() const
{
    return proc.processId();
}

double DriverProcess::cpuSeconds() const
{
    return ProcSample::take(pid()).cpuSeconds();
}

qint64 DriverProcess::rssKb() const
{
    return ProcSample::take(pid()).rssKb;
}

} // namespace rig
