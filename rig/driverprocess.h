#ifndef RIG_DRIVERPROCESS_H
#define RIG_DRIVERPROCESS_H

// The real zma-driver as a child: its environment (where the board library
// finds the serial port and the SPI peer), its stdin, and its stdout and
// stderr kept whole for looking at later.

#include "rig/childprocess.h"
#include "rig/procsample.h"
#include "rig/runenv.h"

namespace rig {

class DriverProcess
{
public:
    DriverProcess();
    ~DriverProcess();

    QProcessEnvironment env;
    void setSerial(const QString& path) { env.insert("ZQ_BOARD_SERIAL", path); }
    void setSpi(const QString& path) { env.insert("ZQ_BOARD_SPI", path); }

    bool start(const QStringList& args = {});
    void writeLine(const QByteArray& line) { writeRaw(line + '\n'); }
    void writeRaw(const QByteArray& bytes) { proc.write(bytes); proc.waitForBytesWritten(1000); }
    void closeStdin() { proc.closeWriteChannel(); }

    QStringList lines(); // complete stdout lines so far
    QByteArray stdoutBytes() { drain(); return out; }
    QByteArray stderrBytes() { drain(); return err; }
    bool waitLine(const QString& line, int timeoutMs, const std::function<void()>& pump = {})
    {
        return waitUntil([&] { return lines().contains(line); }, timeoutMs, pump);
    }
    bool waitStderr(const QByteArray& text, int timeoutMs)
    {
        return waitUntil([&] { return stderrBytes().contains(text); }, timeoutMs);
    }
    bool waitExit(int timeoutMs, const std::function<void()>& pump = {})
    {
        return waitUntil([&] { return !running(); }, timeoutMs, pump);
    }
    bool running() const { return proc.state() != QProcess::NotRunning; }
    int exitCode() const { return proc.exitCode(); }
    QProcess::ExitStatus exitStatus() const { return proc.exitStatus(); }
    qint64 pid() const { return proc.processId(); }
    // How it took the end of its input, as the tools say it, by whether it
    // exited within the 5 s they give it.
    QString endOfInput(bool exited) const
    {
        return exited ? QString("exited with status %1 after end of input").arg(exitCode())
                      : "still running 5 s after end of input (killed)";
    }
    // CPU time (user + system) the process used so far, in seconds.
    double cpuSeconds() const { return ProcSample::take(pid()).cpuSeconds(); }
    qint64 rssKb() const { return ProcSample::take(pid()).rssKb; }
    // In the child before exec: descriptor fd becomes target (-1: closed).
    void redirect(int fd, int target);

    ChildProcess proc;

private:
    void drain() { out += proc.readAllStandardOutput(); err += proc.readAllStandardError(); }
    qint64 startedPid = 0;
    QByteArray out;
    QByteArray err;
};

} // namespace rig

#endif
