#include "rig/childprocess.h"

namespace rig {

namespace {
void split(QByteArray* pending, const QByteArray& more, const std::function<void(const QByteArray&)>& out)
{
    *pending += more;
    for (int eol; (eol = pending->indexOf('\n')) >= 0; pending->remove(0, eol + 1))
        out(pending->left(eol));
}
} // namespace

ChildProcess::ChildProcess()
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

void ChildProcess::start(const QString& program, const QStringList& args, const QStringList& prefix)
{
    if (prefix.isEmpty())
        QProcess::start(program, args);
    else
        QProcess::start(prefix.first(), prefix.mid(1) + QStringList{program} + args);
}

void ChildProcess::finish()
{
    if (state() == QProcess::NotRunning)
        return;
    terminate();
    if (!waitForFinished(3000)) {
        kill();
        waitForFinished(1000);
    }
}

} // namespace rig
