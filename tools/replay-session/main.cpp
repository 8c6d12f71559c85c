// replay-session: replays a recorded session against the driver (the
// simulator plays the shield's side and compares the frames, this gives the
// parent's lines at their moments), or records one from a script.

#include "sessionplayer.h"
#include "sessionrecorder.h"
#include "rig/say.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTimer>
#include <csignal>
#include <cstdio>

namespace {
// Says why the arguments or the session are refused; the exit status for it.
int refuse(const QString& why)
{
    fprintf(stderr, "replay-session: %s\n", qPrintable(why));
    return 2;
}
}

int main(int argc, char** argv)
{
    ::signal(SIGPIPE, SIG_IGN);
    QCoreApplication app(argc, argv);
    const QString here = QCoreApplication::applicationDirPath();

    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Replays a recorded session against zma-driver and exits non-zero on a difference on the line;\n"
        "with --record, records SESSION from the script SCRIPT instead.\n"
        "Script lines: \"args ARGS\", \"MS sim COMMAND\", \"MS parent LINE\", \"MS end\".");
    parser.addHelpOption();
    parser.addPositionalArgument("SESSION", "the session file to replay or, with --record, to write");
    const QCommandLineOption record("record", "record SESSION from the script SCRIPT", "SCRIPT");
    const QCommandLineOption speed("speed", "play the shield's side N times as fast (default 1)", "N", "1");
    const QCommandLineOption tolerance("tolerance", "how far a frame may be off its recorded time (default 250)",
                                       "MS", "250");
    const QCommandLineOption leaveOut("leave-out", "do not give the parent's line LINE (its first occurrence)",
                                      "LINE");
    // Installed, the driver is beside this; in a build tree, one level up.
    const QString besideDriver = QDir(here).filePath("zma-driver");
    const QCommandLineOption driver("driver", "the driver (default: zma-driver beside this, or of this build)", "PATH",
                                    QFileInfo::exists(besideDriver) ? besideDriver : QDir(here).filePath("../zma-driver"));
    const QCommandLineOption sim("sim", "the simulator (default: shield-sim beside this)", "PATH",
                                 QDir(here).filePath("shield-sim"));
    const QCommandLineOption zmaLog("zma-log", "the log reader (default: zma-log beside this)", "PATH",
                                    QDir(here).filePath("zma-log"));
    const QCommandLineOption emulator("emulator",
                                      "run the simulator and the driver behind CMD (e.g. qemu-aarch64-static, "
                                      "for a build for the board); replays only",
                                      "CMD");
    const QCommandLineOption verbose({"v", "verbose"}, "show every line of the simulator, the driver and the parent");
    parser.addOptions({record, speed, tolerance, leaveOut, driver, sim, zmaLog, emulator, verbose});
    parser.process(app);

    const QStringList args = parser.positionalArguments();
    if (args.size() != 1)
        return refuse("one SESSION expected (--help)");
    SessionPlayer::Settings s;
    s.sessionPath = args.first();
    s.simPath = parser.value(sim);
    s.driverPath = parser.value(driver);
    s.zmaLogPath = parser.value(zmaLog);
    s.verbose = parser.isSet(verbose);
    QString error;
    // Queued: a failure may come before the event loop runs.
    auto done = [](int code) {
        QTimer::singleShot(0, QCoreApplication::instance(), [code] { QCoreApplication::exit(code); });
    };

    if (parser.isSet(record)) {
        // The recorder runs its programs directly: refused rather than ignored.
        if (parser.isSet(emulator))
            return refuse("--emulator is for replays, not --record");
        s.scriptPath = parser.value(record);
        SessionRecorder recorder(s);
        if (!recorder.load(&error))
            return refuse(error);
        recorder.onFinished = done;
        recorder.start();
        return app.exec();
    }

    bool speedOk = false;
    bool toleranceOk = false;
    s.emulator = QProcess::splitCommand(parser.value(emulator));
    s.speed = parser.value(speed).toDouble(&speedOk);
    s.toleranceMs = parser.value(tolerance).toInt(&toleranceOk);
    if (!speedOk || !(s.speed > 0 && s.speed <= 1000) || !toleranceOk || s.toleranceMs < 0)
        return refuse("--speed takes a number above 0 up to 1000, --tolerance milliseconds");
    SessionPlayer player(s);
    if (!player.load(&error))
        return refuse(error);
    // A line the parent never gave would leave out nothing and pass.
    QStringList leftOut;
    for (const QString& line : parser.values(leaveOut)) {
        if (!player.leaveOut(line.toUtf8())) {
            const QString why = leftOut.contains(line) ? QStringLiteral("%1 has no more of that line of the parent's")
                                                       : QStringLiteral("the parent gave no such line in %1");
            return refuse(QStringLiteral("--leave-out \"%1\": %2").arg(line, why.arg(s.sessionPath)));
        }
        leftOut.append(line);
        say("replay-session: leaving out the parent's line \"" + line.toUtf8() + "\"");
    }
    player.onFinished = done;
    player.start();
    return app.exec();
}
