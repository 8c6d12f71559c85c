#ifndef RIG_CHILDPROCESS_H
#define RIG_CHILDPROCESS_H

// A program the rig starts: the driver, the simulator, zma-log,
// replay-session. Started with fork(): Qt starts a plain QProcess with
// clone(CLONE_PIDFD), which qemu-user refuses (QTBUG-98951), while a
// subclass that overrides setupChildProcess() gets a fork, which works
// natively and under the emulator alike.

#include <QByteArray>
#include <QProcess>
#include <QStringList>
#include <functional>

namespace rig {

class ChildProcess : public QProcess
{
public:
    // Runs in the child between fork and exec (to close or replace its
    // standard descriptors).
    std::function<void()> setup;

    ChildProcess()
    {
        connect(this, &QProcess::readyReadStandardOutput, this, [this] {
            if (onLine)
                split(&outPending, readAllStandardOutput(), onLine);
        });
        connect(this, &QProcess::readyReadStandardError, this, [this] {
            if (onErrorLine)
                split(&errPending, readAllStandardError(), onErrorLine);
        });
    }
    // Where set, stdout (stderr) is read as it comes, so a full pipe never
    // holds the program up, and each whole line goes here without its end;
    // where not, it waits to be read.
    std::function<void(const QByteArray&)> onLine;
    std::function<void(const QByteArray&)> onErrorLine;

    // Starts program with args behind prefix: an emulator's words, or none.
    void start(const QString& program, const QStringList& args, const QStringList& prefix = {})
    {
        const QStringList words = prefix + QStringList{program} + args;
        QProcess::start(words.first(), words.mid(1));
    }
    // Asks it to stop, then kills it if it has not within 3 s.
    void finish()
    {
        if (state() == QProcess::NotRunning)
            return;
        terminate();
        if (!waitForFinished(3000)) {
            kill();
            waitForFinished(1000);
        }
    }

protected:
    void setupChildProcess() override
    {
        if (setup)
            setup();
    }

private:
    static void split(QByteArray* pending, const QByteArray& more, const std::function<void(const QByteArray&)>& out)
    {
        *pending += more;
        for (int eol; (eol = pending->indexOf('\n')) >= 0; pending->remove(0, eol + 1))
            out(pending->left(eol));
    }
    QByteArray outPending;
    QByteArray errPending;
};

} // namespace rig

#endif
