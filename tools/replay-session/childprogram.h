#ifndef CHILDPROGRAM_H
#define CHILDPROGRAM_H

#include <QByteArray>
#include <QProcess>
#include <QStringList>
#include <functional>

// A program the runner starts: the simulator, the driver or zma-log.
// Started with fork(): Qt starts a plain QProcess with clone(CLONE_PIDFD),
// which qemu-user refuses (QTBUG-98951), while a subclass that overrides
// setupChildProcess() gets a fork, so the runner also works emulated.
class ChildProgram : public QProcess
{
public:
    ChildProgram();

    // Each whole line of the program's stdout and stderr, without its end.
    std::function<void(const QByteArray&)> onLine;
    std::function<void(const QByteArray&)> onErrorLine;

    // The driver's board library talks to the simulator's port, and SPI is
    // the stand-in's loopback.
    void setDriverPort(const QByteArray& port);
    // prefix: words put before the program (an emulator), or none.
    void start(const QString& program, const QStringList& args, const QStringList& prefix = {});
    // Asks it to stop, then kills it if it has not within 3 s.
    void finish();

protected:
    void setupChildProcess() override {}

private:
    static void split(QByteArray* pending, const QByteArray& more, const std::function<void(const QByteArray&)>& out);

    QByteArray outPending;
    QByteArray errPending;
};

// One line on stdout, flushed at once.
void say(const QByteArray& line);

#endif
