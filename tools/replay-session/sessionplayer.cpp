#include "sessionplayer.h"
#include "rig/runenv.h"
#include "rig/say.h"

#include <cstdio>

namespace {
// A replay longer than this has hung somewhere.
constexpr int kGuardMs = 120000;
}

SessionPlayer::SessionPlayer(const Session& session, const Settings& settings, QObject* parent)
    : QObject(parent), session(session), settings(settings)
{
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
    sim.onLine = [this](const QByteArray& line) { simLine(line); };
    sim.onErrorLine = [](const QByteArray& line) { fprintf(stderr, "%s\n", line.constData()); };
    connect(&sim, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), this,
            [this](int code, QProcess::ExitStatus status) {
                end(status == QProcess::NormalExit ? code : 1);
            });
    connect(&sim, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart) {
            say("replay-session: cannot start " + settings.simPath.toLocal8Bit());
            end(1);
        }
    });
    sim.start(settings.simPath,
              {"--replay", settings.sessionPath, "--speed", QString::number(settings.speed), "--tolerance",
               QString::number(settings.toleranceMs)},
              settings.emulator);
}

void SessionPlayer::simLine(const QByteArray& line)
{
    const QList<QByteArray> words = line.split(' ');
    if (line.startsWith("serial ")) {
        port = line.mid(7);
    } else if (line.startsWith("replay session origin ") && words.size() >= 4) {
        const double recordedOrigin = words.at(3).toDouble();
        for (const SavedLine& p : session.parentLines)
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

void SessionPlayer::startDriver(const QByteArray& port)
{
    driver.setProcessEnvironment(Session::driverEnvironment(port));
    // Read even when not shown, so a full pipe never holds the driver up.
    driver.onLine = [this](const QByteArray& line) {
        if (settings.verbose)
            say("driver: " + line);
    };
    driver.onErrorLine = [this](const QByteArray& line) {
        if (settings.verbose)
            say("driver stderr: " + line);
    };
    driver.start(settings.driverPath, session.driverArgs, settings.emulator);
    driverStarted = true;
    // Lines the parent gave before the driver's first frame go at once.
    giveDue();
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
        const QByteArray text = session.parentLines.at(nextLine).parentLine();
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
    // CLOCK_MONOTONIC, the clock of the simulator's origin.
    return qRound64((rig::monotonicNs() / rig::kMs - originMonotonicMs) * settings.speed);
}

void SessionPlayer::end(int code)
{
    if (ended)
        return;
    ended = true;
    lineTimer.stop();
    guard.stop();
    driver.finish();
    sim.finish();
    if (onFinished)
        onFinished(code);
}
