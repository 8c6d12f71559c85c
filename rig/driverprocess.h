#ifndef RIG_DRIVERPROCESS_H
#define RIG_DRIVERPROCESS_H

// The real zma-driver as a child: its environment (where the board library
// finds the serial port and the SPI peer), its stdin, and its stdout and
// stderr kept whole for looking at later.

#include "rig/childprocess.h"

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <functional>

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
    void writeLine(const QByteArray& line); // appends LF
    void writeRaw(const QByteArray& bytes);
    void closeStdin();

    QStringList lines();       // complete stdout lines so far
    QByteArray stdoutBytes();
    QByteArray stderrBytes();
    bool waitLine(const QString& line, int timeoutMs, const std::function<void()>& pump = {});
    bool waitStderr(const QByteArray& text, int timeoutMs);
    bool waitExit(int timeoutMs, const std::function<void()>& pump = {});
    bool running() const;
    int exitCode() const;
    QProcess::ExitStatus exitStatus() const;
    qint64 pid() const;
    // CPU time (user + system) the process used so far, in seconds.
    double cpuSeconds() const;
    qint64 rssKb() const;
    // In the child before exec: descriptor fd becomes target (-1: closed).
    void redirect(int fd, int target);

    ChildProcess proc;

private:
    void drain();
    void removeLeftLock();
    qint64 startedPid = 0;
    QByteArray out;
    QByteArray err;
};

} // namespace rig

#endif
