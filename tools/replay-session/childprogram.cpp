#include "childprogram.h"

#include <QProcessEnvironment>
#include <cstdio>

ChildProgram::ChildProgram()
{
    // Always read, so a full pipe never holds the program up.
    connect(this, &QProcess::readyReadStandardOutput, this,
            [this] { split(&outPending, readAllStandardOutput(), onLine); });
    connect(this, &QProcess::readyReadStandardError, this,
            [this] { split(&errPending, readAllStandardError(), onErrorLine); });
}

void ChildProgram::split(QByteArray* pending, const QByteArray& more, const std::function<void(const QByteArray&)>& out)
{
    *pending += more;
    int eol;
    while ((eol = pending->indexOf('\n')) >= 0) {
        const QByteArray line = pending->left(eol);
        pending->remove(0, eol + 1);
        if (out)
            out(line);
    }
}

void ChildProgram::setDriverPort(const QByteArray& port)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("ZQ_BOARD_SERIAL", QString::fromLocal8Bit(port));
    env.remove("ZQ_BOARD_SPI");
    setProcessEnvironment(env);
}

void ChildProgram::start(const QString& program, const QStringList& args, const QStringList& prefix)
{
    if (prefix.isEmpty())
        QProcess::start(program, args);
    else
        QProcess::start(prefix.first(), prefix.mid(1) + QStringList{program} + args);
}

void ChildProgram::finish()
{
    if (state() == QProcess::NotRunning)
        return;
    terminate();
    if (!waitForFinished(3000)) {
        kill();
        waitForFinished(1000);
    }
}

void say(const QByteArray& line)
{
    fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stdout);
    fputc('\n', stdout);
    fflush(stdout);
}
