#include "sessionplayer.h"
#include "rig/runenv.h"
#include "rig/say.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cstdio>

namespace {
// A replay longer than this has hung somewhere.
constexpr int kGuardMs = 120000;
}

SessionPlayer::SessionPlayer(const Settings& settings) : settings(settings)
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

bool SessionPlayer::load(QString* error)
{
    const QString& path = settings.sessionPath;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return false;
    }
    bool hasArgs = false;
    int number = 0;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine().trimmed();
        ++number;
        if (line.startsWith("# args:")) {
            driverArgs = QString::fromUtf8(line.mid(7)).split(QLatin1Char(' '), Qt::SkipEmptyParts);
            hasArgs = true;
            continue;
        }
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        SavedLine saved;
        if (!SavedLine::parse(line, &saved)) {
            *error = QStringLiteral("%1:%2: not a line of a saved log (receive time, tab, line): a session is a log "
                                    "saved by zma-log --save, or recorded by replay-session --record")
                         .arg(path)
                         .arg(number);
            return false;
        }
        if (saved.isParentLine())
            parentLines.append(saved);
    }
    // What zma-log --save keeps of a board: the driver's log alone. Replayed,
    // the driver would miss every line the parent gave it and differ at the
    // first answer to one.
    if (!hasArgs && parentLines.isEmpty()) {
        *error = QStringLiteral("%1: saved by zma-log --save from a live board: add the parent's lines, "
                                "or replay with shield-sim --replay")
                     .arg(path);
        return false;
    }
    return true;
}

bool SessionPlayer::leaveOut(const QByteArray& text)
{
    const auto it = std::find_if(parentLines.begin(), parentLines.end(),
                                 [&text](const SavedLine& line) { return line.parentLine() == text; });
    if (it == parentLines.end())
        return false;
    parentLines.erase(it);
    return true;
}

QProcessEnvironment SessionPlayer::driverEnvironment(const QByteArray& port)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("ZQ_BOARD_SERIAL", QString::fromLocal8Bit(port));
    env.remove("ZQ_BOARD_SPI");
    // Installed beside the simulator: only the stand-in reads ZQ_BOARD_SERIAL.
    const QString standIn = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral(ZMA_SIM_LIBDIR));
    if (QFileInfo::exists(standIn + "/libzq-board-korvel-2023.so.1")) {
        const QString before = env.value("LD_LIBRARY_PATH");
        env.insert("LD_LIBRARY_PATH", QDir::cleanPath(standIn) + (before.isEmpty() ? QString() : ":" + before));
    }
    return env;
}

void SessionPlayer::start()
{
    guard.start(kGuardMs);
    sim.onLine = [this](const QByteArray& line) {
        const QList<QByteArray> words = line.split(' ');
        if (line.startsWith("serial ")) {
            port = line.mid(7);
        } else if (line.startsWith("replay session origin ") && words.size() >= 4) {
            const double recordedOrigin = words.at(3).toDouble();
            for (const SavedLine& p : parentLines)
                lineAtMs.append(qRound64((p.time - recordedOrigin) * 1000.0));
            startDriver();
        } else if (line.startsWith("replay origin ") && words.size() == 3) {
            // The simulator's clock, not the time this line took to come.
            originMonotonicMs = words.at(2).toLongLong();
            giveDue();
        }
        const bool progress = line.startsWith("replay origin") || line.startsWith("replay session");
        if (settings.verbose || (line.startsWith("replay ") && !progress))
            say(settings.verbose ? "sim: " + line : line);
    };
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

void SessionPlayer::startDriver()
{
    driver.setProcessEnvironment(driverEnvironment(port));
    // Read even when not shown, so a full pipe never holds the driver up.
    driver.onLine = [this](const QByteArray& line) {
        if (settings.verbose)
            say("driver: " + line);
    };
    driver.onErrorLine = [this](const QByteArray& line) {
        if (settings.verbose)
            say("driver stderr: " + line);
    };
    driver.start(settings.driverPath, driverArgs, settings.emulator);
    driverStarted = true;
    // Lines the parent gave before the driver's first frame go at once.
    giveDue();
}

void SessionPlayer::giveDue()
{
    if (!driverStarted)
        return;
    // Ms since the origin at replay speed, on CLOCK_MONOTONIC, the clock of
    // the simulator's origin; -1 before the origin.
    const qint64 now = originMonotonicMs < 0
        ? -1
        : qRound64((rig::monotonicNs() / rig::kMs - originMonotonicMs) * settings.speed);
    while (nextLine < parentLines.size()) {
        const qint64 at = lineAtMs.at(nextLine);
        // Before the first frame only what came before it in the session.
        if (now < 0 ? at >= 0 : at > now)
            break;
        const QByteArray text = parentLines.at(nextLine).parentLine();
        driver.write(text + '\n');
        if (settings.verbose)
            say("parent: " + text);
        ++nextLine;
    }
    if (now >= 0 && nextLine < parentLines.size()) {
        const qint64 waitMs = qRound64((lineAtMs.at(nextLine) - now) / settings.speed);
        lineTimer.start(static_cast<int>(qBound<qint64>(0, waitMs, kGuardMs)));
    }
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
    onFinished(code);
}
