#include "sessionrecorder.h"
#include "rig/say.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <algorithm>
#include <cstdio>

namespace {
// zma-log must be listening before the driver's first line.
constexpr int kListenerWaitMs = 5000;
// The log leaves the driver a tick at a time; its last lines need a moment.
constexpr int kLogTailMs = 300;
// Beyond the script's end: something hangs.
constexpr int kGuardSlackMs = 30000;
}

SessionRecorder::SessionRecorder(const Settings& settings) : settings(settings)
{
    stepTimer.setSingleShot(true);
    stepTimer.setTimerType(Qt::PreciseTimer);
    connect(&stepTimer, &QTimer::timeout, this, [this] { runDue(); });
    guard.setSingleShot(true);
    connect(&guard, &QTimer::timeout, this, [this] { fail("no end within the script's time and 30 s"); });
}

bool SessionRecorder::load(QString* error)
{
    QFile file(settings.scriptPath);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("%1: %2").arg(settings.scriptPath, file.errorString());
        return false;
    }
    int number = 0;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine().trimmed();
        ++number;
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        if (line.startsWith("args")) {
            driverArgs = QString::fromUtf8(line.mid(4)).split(QLatin1Char(' '), Qt::SkipEmptyParts);
            continue;
        }
        const int sp1 = line.indexOf(' ');
        const int sp2 = sp1 < 0 ? -1 : line.indexOf(' ', sp1 + 1);
        bool ok = false;
        const qint64 at = line.left(sp1).toLongLong(&ok);
        const QByteArray target = sp2 < 0 ? line.mid(sp1 + 1) : line.mid(sp1 + 1, sp2 - sp1 - 1);
        const QByteArray text = sp2 < 0 ? QByteArray() : line.mid(sp2 + 1);
        const bool known = target == "end" || ((target == "sim" || target == "parent") && !text.isEmpty());
        if (!ok || sp1 < 0 || !known || (!steps.isEmpty() && at < steps.last().atMs)) {
            *error = QStringLiteral("%1:%2: expected \"MS sim|parent TEXT\" or \"MS end\", in time order")
                         .arg(settings.scriptPath)
                         .arg(number);
            return false;
        }
        steps.append({at, target, text});
    }
    if (std::none_of(steps.cbegin(), steps.cend(), [](const Step& step) { return step.target == "end"; })) {
        *error = QStringLiteral("%1: no \"MS end\" line").arg(settings.scriptPath);
        return false;
    }
    return true;
}

void SessionRecorder::start()
{
    guard.start(static_cast<int>(steps.last().atMs) + kListenerWaitMs + kGuardSlackMs);
    // Each program must start and must last until the end of the script.
    auto watch = [this](QProcess* p, const QString& path, const QByteArray& name) {
        connect(p, &QProcess::errorOccurred, this, [this, path](QProcess::ProcessError error) {
            if (error == QProcess::FailedToStart)
                fail("cannot start " + path.toLocal8Bit());
        });
        connect(p, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), this, [this, name] {
            if (!stopping)
                fail(name + " stopped before the end of the script");
        });
    };
    watch(&zmaLog, settings.zmaLogPath, "zma-log");
    watch(&sim, settings.simPath, "shield-sim");
    watch(&driver, settings.driverPath, "the driver");

    QFile::remove(settings.sessionPath + ".log");
    zmaLog.setStandardOutputFile(QProcess::nullDevice());
    zmaLog.onErrorLine = [this](const QByteArray& line) {
        fprintf(stderr, "%s\n", line.constData());
        // "zma-log: N lines received, M dropped by the kernel ..."
        const int dropped = line.indexOf(" dropped by the kernel");
        if (dropped > 0)
            kernelDropped = line.left(dropped).mid(line.lastIndexOf(' ', dropped - 1) + 1).toLongLong();
        if (!listening && line.contains("listening on")) {
            listening = true;
            sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
            sim.start(settings.simPath, QStringList());
        }
    };
    sim.onLine = [this](const QByteArray& line) {
        if (line.startsWith("serial ") && !clock.isValid())
            startDriver(line.mid(7));
        if (settings.verbose)
            say("sim: " + line);
    };
    zmaLog.start(settings.zmaLogPath, {"--raw", "--save", settings.sessionPath + ".log"});
    QTimer::singleShot(kListenerWaitMs, this, [this] {
        if (!listening)
            fail("zma-log did not say it listens");
    });
}

void SessionRecorder::startDriver(const QByteArray& port)
{
    driver.setProcessEnvironment(SessionPlayer::driverEnvironment(port));
    // Its diagnostics are not part of the session.
    if (settings.verbose)
        driver.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    else
        driver.setStandardErrorFile(QProcess::nullDevice());
    driver.onLine = [this](const QByteArray& line) { note("< ", line); };
    driver.start(settings.driverPath, driverArgs);
    clock.start();
    runDue();
}

void SessionRecorder::note(const QByteArray& prefix, const QByteArray& text)
{
    beside.append(SavedLine::format(QDateTime::currentMSecsSinceEpoch() / 1000.0, prefix + text));
    if (settings.verbose)
        say(prefix + text);
}

void SessionRecorder::runDue()
{
    while (nextStep < steps.size() && steps.at(nextStep).atMs <= clock.elapsed()) {
        const Step& step = steps.at(nextStep++);
        if (step.target == "end") {
            stop();
            return;
        }
        if (step.target == "sim") {
            sim.write(step.text + '\n');
        } else {
            note("> ", step.text);
            driver.write(step.text + '\n');
        }
    }
    if (nextStep < steps.size())
        stepTimer.start(static_cast<int>(qMax<qint64>(0, steps.at(nextStep).atMs - clock.elapsed())));
}

bool SessionRecorder::halt()
{
    if (stopping)
        return false;
    stopping = true;
    stepTimer.stop();
    guard.stop();
    return true;
}

void SessionRecorder::stop()
{
    if (!halt())
        return;
    driver.finish();
    QThread::msleep(kLogTailMs);
    // Its last line, the count of lost lines, is read while it finishes.
    zmaLog.finish();
    sim.write("quit\n");
    sim.closeWriteChannel();
    if (!sim.waitForFinished(3000))
        sim.finish();
    QString error;
    if (kernelDropped != 0)
        error = QStringLiteral("zma-log lost log lines (or did not say): no session written");
    const bool written = error.isEmpty() && writeSession(&error);
    if (!written)
        say("replay-session: " + error.toLocal8Bit());
    onFinished(written ? 0 : 1);
}

void SessionRecorder::fail(const QByteArray& why)
{
    if (!halt())
        return;
    say("replay-session: " + why + "; no session written");
    for (rig::ChildProcess* p : {&driver, &sim, &zmaLog})
        p->finish();
    QFile::remove(settings.sessionPath + ".log");
    onFinished(1);
}

bool SessionRecorder::writeSession(QString* error)
{
    QFile log(settings.sessionPath + ".log");
    if (!log.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("no log saved by zma-log (%1): %2").arg(log.fileName(), log.errorString());
        return false;
    }
    QList<SavedLine> lines;
    for (const QByteArray& raw : log.readAll().split('\n') + beside) {
        SavedLine saved;
        if (SavedLine::parse(raw, &saved))
            lines.append(saved);
    }
    std::stable_sort(lines.begin(), lines.end(), [](const SavedLine& a, const SavedLine& b) { return a.time < b.time; });
    const bool anyFrame = std::any_of(lines.begin(), lines.end(), [](const SavedLine& line) {
        LogLine log;
        return LogLine::parse(line.text, &log) && log.category == "Uart WRITE";
    });
    if (!anyFrame) {
        *error = QStringLiteral("the log holds no frame of the driver: no session written");
        return false;
    }

    QFile out(settings.sessionPath);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        *error = QStringLiteral("%1: %2").arg(settings.sessionPath, out.errorString());
        return false;
    }
    out.write("# Recorded by replay-session from " + QFileInfo(settings.scriptPath).fileName().toUtf8() + "\n");
    out.write("# args: " + driverArgs.join(QLatin1Char(' ')).toUtf8() + "\n");
    for (const SavedLine& line : lines)
        out.write(SavedLine::format(line.time, line.text) + '\n');
    log.remove();
    return true;
}
