// shield-sim: a simulated shield, so zma-driver runs on a machine without
// the board. The serial end is a pseudo-terminal (give its path to the driver
// as ZQ_BOARD_SERIAL), the audio end a Unix SEQPACKET socket (ZQ_BOARD_SPI).
//
// Its line protocol, for people and for scripts driving it through a pipe
// (commands on standard input, one event a line on standard output), is in
// --help (options.cpp) and docs/man/shield-sim.1. End of input exits unless
// --stay. The answers to the driver: see rig/answeringshield.h; the audio:
// see audiopeer.h.

#include "audiopeer.h"
#include "controlcommands.h"
#include "options.h"
#include "replay.h"
#include "shield.h"
#include "simio.h"

#include "rig/shieldpty.h"

#include <QCoreApplication>
#include <QFile>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const int saved = errno;
    const char c = 1;
    // Pipe full: a quit is pending already.
    (void)!::write(signalPipe[1], &c, 1);
    errno = saved;
}

void catchSignal(int sig, bool keepIgnored)
{
    struct sigaction old {};
    ::sigaction(sig, nullptr, &old);
    // Started in the background by a shell: ^C is meant for the foreground.
    if (keepIgnored && old.sa_handler == SIG_IGN)
        return;
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    ::sigaction(sig, &sa, nullptr);
}

// The shield's side comes from the recording: no answers, no commands.
int runReplay(const Options& opts, rig::ShieldPty& serial)
{
    Replay replay(&serial, opts);
    QString error;
    if (!replay.load(opts.replay, &error)) {
        printError(error);
        return 2;
    }
    int code = 1;
    replay.onFinished = [&code](const Replay::Summary& s) {
        say("replay frames " + QByteArray::number(s.expected) + " matched " + QByteArray::number(s.matched)
            + " missing " + QByteArray::number(s.missing) + " extra " + QByteArray::number(s.extra) + " mistimed "
            + QByteArray::number(s.mistimed) + " junk " + QByteArray::number(s.junkBytes));
        if (!s.firstDifference.isEmpty())
            say("replay first difference: " + s.firstDifference);
        say(QByteArray(s.passed() ? "replay passed" : "replay FAILED"));
        code = s.passed() ? 0 : 1;
        QCoreApplication::quit();
    };
    // A runner giving the parent's lines counts their times from these two.
    replay.onOrigin = [&replay] { say("replay origin " + QByteArray::number(replay.originMonotonicMs())); };
    say("serial " + QFile::encodeName(serial.portPath()));
    say("replay session origin " + QByteArray::number(replay.recordedOrigin(), 'f', 6) + " frames "
        + QByteArray::number(replay.expectedFrames()) + " chunks " + QByteArray::number(replay.chunksToSend()));
    serial.watch();
    replay.start();
    // A signal ends it without a verdict.
    return QCoreApplication::exec() == 0 ? code : 1;
}

} // namespace

int main(int argc, char** argv)
{
    setvbuf(stdout, nullptr, _IOLBF, 0);
    ::signal(SIGPIPE, SIG_IGN);
    QCoreApplication app(argc, argv);

    Options opts;
    const int parsed = opts.parse(app.arguments());
    if (parsed != 0)
        return parsed < 0 ? 0 : parsed;

    if (opts.dieWithParent) {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() == 1)
            return 0;
    }

    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        printError(QStringLiteral("pipe: %1").arg(errnoText()));
        return 1;
    }
    catchSignal(SIGINT, true);
    catchSignal(SIGHUP, true);
    catchSignal(SIGTERM, false);
    QSocketNotifier signalNote(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&signalNote, &QSocketNotifier::activated, &app, [] {
        char buf[16];
        while (::read(signalPipe[0], buf, sizeof(buf)) > 0) {
        }
        QCoreApplication::quit();
    });

    rig::ShieldPty serial(opts.link);
    if (!serial.open()) {
        printError(serial.error());
        return 1;
    }
    if (!opts.replay.isEmpty())
        return runReplay(opts, serial);

    Shield shield(opts, serial);
    std::unique_ptr<AudioPeer> audio;
    QString error;
    if (!opts.spi.isEmpty()) {
        audio = std::make_unique<AudioPeer>(opts);
        if (!audio->start(&error)) {
            printError(error);
            return 1;
        }
    }
    ControlCommands commands(shield, audio.get(), opts.stay);

    say("serial " + QFile::encodeName(serial.portPath()));
    if (audio)
        say("spi " + QFile::encodeName(opts.spi));

    serial.watch();
    shield.start();
    commands.start();

    const int code = app.exec();

    if (audio)
        audio->stop();
    // Lines the audio thread posted last ("spi disconnected") still go out.
    QCoreApplication::sendPostedEvents();
    if (audio && !opts.record.isEmpty() && !opts.recordRaw)
        printError(QStringLiteral("recorded %1 blocks to %2, %3 of them the driver's idle blocks (FF 7F), written as "
                                  "silence")
                       .arg(audio->recordedBlocks())
                       .arg(opts.record)
                       .arg(audio->idleBlocksSilenced()));
    return code;
}
