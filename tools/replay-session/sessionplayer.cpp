#include "sessionplayer.h"

#include <QElapsedTimer>
#include <QProcessEnvironment>
#include <cstdio>

namespace {
// A replay longer than this has hung somewhere.
constexpr int kGuardMs = 120000;

qint64 monotonicMs()
{
    QElapsedTimer now;
    now.start();
    return now.msecsSinceReference();
}

void say(const QByteArray& line)
{
    fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stdout);
    fputc('\n', stdout);
    fflush(stdout);
}
}

SessionPlayer::SessionPlayer(const Session& session, const Settings& settings, QObject* parent)
    : QObject(parent), session(session), settings(settings)
{
    for (const QByteArray& text : settings.leaveOut) {
        for (int i = 0; i < this->session.parentLines.size(); ++i) {
            if (this->session.parentLines.at(i).text == text) {
                say("replay-session: leaving out the parent's line \"" + text + "\"");
                this->session.parentLines.removeAt(i);
                break;
            }
        }
    }
    lineTimer.setSingleShot(true);
    lineTimer.setTimerType(Qt::PreciseTimer);
    connect(&lineTimer, &QTimer::timeout, this, [this] { giveDue(); });
    guard.setSingleShot(true);
    connect(&guard, &QTimer::timeout, this, [this] {
        say("replay-session: no verdict within " + QByteArray::number(kGuardMs / 1000) + " s");
        end(1);
    });
}

void SessionPlayer::start()
{
    guard.start(kGuardMs);
    connect(&sim, &QProcess::readyReadStandardOutput, this, [this] { simOutput(); });
    connect(&sim, &QProcess::readyReadStandardError, this,
            [this] { fputs(sim.readAllStandardError().constData(), stderr); });
    connect(&sim, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), this,
            [this](int code, QProcess::ExitStatus status) {
                simOutput();
                end(status == QProcess::NormalExit ? code : 1);
            });
    connect(&sim, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart) {
            say("replay-session: cannot start " + settings.simPath.toLocal8Bit());
            end(1);
        }
    });
    startProgram(sim, settings.simPath,
              {"--replay", settings.sessionPath, "--speed", QString::number(settings.speed), "--tolerance",
               QString::number(settings.toleranceMs)});
}

void SessionPlayer::simOutput()
{
    simPending += sim.readAllStandardOutput();
    int eol;
    while ((eol = simPending.indexOf('\n')) >= 0) {
        const QByteArray line = simPending.left(eol);
        simPending.remove(0, eol + 1);
        const QList<QByteArray> words = line.split(' ');
        if (line.startsWith("serial ")) {
            port = line.mid(7);
        } else if (line.startsWith("replay session origin ") && words.size() >= 4) {
            recordedOrigin = words.at(3).toDouble();
            for (const Session::ParentLine& p : session.parentLines)
                lineAtMs.append(qRound64((p.time - recordedOrigin) * 1000.0));
            startDriver(port);
        } else if (line.startsWith("replay origin ") && words.size() == 3) {
            // The simulator's clock, not the time this line took to come.
            originMonotonicMs = words.at(2).toLongLong();
            giveDue();
        }
        const bool progress = line.startsWith("replay origin") || line.startsWith("replay session");
        if (settings.verbose || (line.startsWith("replay ") && !progress))
            say(settings.verbose ? "sim: " + line : line);
    }
}

void SessionPlayer::startDriver(const QByteArray& port)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("ZQ_BOARD_SERIAL", QString::fromLocal8Bit(port));
    env.remove("ZQ_BOARD_SPI");
    driver.setProcessEnvironment(env);
    // Read, so a full pipe never holds the driver up.
    connect(&driver, &QProcess::readyReadStandardOutput, this, [this] {
        const QByteArray out = driver.readAllStandardOutput();
        if (settings.verbose)
            fputs(("driver: " + out).constData(), stdout);
    });
    connect(&driver, &QProcess::readyReadStandardError, this, [this] {
        const QByteArray err = driver.readAllStandardError();
        if (settings.verbose)
            fputs(("driver stderr: " + err).constData(), stdout);
    });
    startProgram(driver, settings.driverPath, session.driverArgs);
    driverStarted = true;
    // Lines the parent gave before the driver's first frame go at once.
    giveDue();
}

void SessionPlayer::startProgram(QProcess& proc, const QString& program, const QStringList& args)
{
    if (settings.emulator.isEmpty())
        proc.start(program, args);
    else
        proc.start(settings.emulator.first(), settings.emulator.mid(1) + QStringList{program} + args);
}

void SessionPlayer::giveDue()
{
    if (!driverStarted)
        return;
    const qint64 now = sinceOrigin();
    while (nextLine < session.parentLines.size()) {
        const qint64 at = lineAtMs.at(nextLine);
        // Before the first frame only what came before it in the session.
        if (now < 0 ? at >= 0 : at > now)
            break;
        const QByteArray& text = session.parentLines.at(nextLine).text;
        driver.write(text + '\n');
        if (settings.verbose)
            say("parent: " + text);
        ++nextLine;
    }
    if (now >= 0 && nextLine < session.parentLines.size()) {
        const qint64 waitMs = qRound64((lineAtMs.at(nextLine) - now) / settings.speed);
        lineTimer.start(static_cast<int>(qBound<qint64>(0, waitMs, kGuardMs)));
    }
}

qint64 SessionPlayer::sinceOrigin() const
{
    if (originMonotonicMs < 0)
        return -1;
    return qRound64((monotonicMs() - originMonotonicMs) * settings.speed);
}

void SessionPlayer::end(int code)
{
    if (ended)
        return;
    ended = true;
    lineTimer.stop();
    guard.stop();
    for (QProcess* p : {&driver, &sim}) {
        if (p->state() == QProcess::NotRunning)
            continue;
        p->terminate();
        if (!p->waitForFinished(3000)) {
            p->kill();
            p->waitForFinished(1000);
        }
    }
    if (onFinished)
        onFinished(code);
}
