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
#include "options.h"
#include "replay.h"
#include "shield.h"
#include "simio.h"

#include "rig/shieldpty.h"

#include <QCoreApplication>
#include <QFile>
#include <QRegularExpression>
#include <QSocketNotifier>
#include <QStringList>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <sys/prctl.h>
#include <sys/stat.h>
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

// The command language of standard input, one command a line (the list is
// in --help; a driver run with -ic 121 reads the digits of ring-gate's P
// then of S). Empty lines and lines starting with '#' are ignored; anything
// else gets an error line on standard error. audio for "stats"; none counts
// zero blocks.
void runCommand(const QString& rawLine, Shield& shield, AudioPeer* audio)
{
    auto usage = [](const char* form) { printError(QStringLiteral("usage: %1").arg(QLatin1String(form))); };
    // A ring needs an idle line; says so if not.
    auto busy = [&shield](const QString& word) {
        if (!shield.isIdle())
            printError(QStringLiteral("%1: line busy (%2)").arg(word, QString::fromLatin1(shield.stateLine())));
        return !shield.isIdle();
    };
    const QString line = rawLine.trimmed();
    if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
        return;
    const QStringList t = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    const QString& word = t.at(0);
    const int args = t.size() - 1;
    qint64 a = 0;
    qint64 b = 0;
    if (word == QLatin1String("ring")) {
        if (args != 1 || !parseNumber(t.at(1), 0, 255, &a))
            usage("ring N (N 0..255)");
        else if (!busy(word))
            shield.ring(static_cast<uint8_t>(a));
    } else if (word == QLatin1String("ring-gate")) {
        if (args != 2 || !parseNumber(t.at(1), 0, 255, &a) || !parseNumber(t.at(2), 0, 255, &b))
            usage("ring-gate PREFIX SUFFIX (each 0..255)");
        else if (!busy(word))
            shield.ringGate(static_cast<uint8_t>(a), static_cast<uint8_t>(b));
    } else if (word == QLatin1String("raw")) {
        const QString hex = t.mid(1).join(QString());
        static const QRegularExpression hexDigits(QStringLiteral("^([0-9A-Fa-f]{2})+$"));
        if (!hexDigits.match(hex).hasMatch())
            usage("raw HEX (whole bytes, spaces allowed)");
        else
            shield.sendRaw(QByteArray::fromHex(hex.toLatin1()));
    } else if (word == QLatin1String("silent")) {
        if (args != 1 || (t.at(1) != QLatin1String("on") && t.at(1) != QLatin1String("off")))
            usage("silent on|off");
        else
            shield.setSilent(t.at(1) == QLatin1String("on"));
    } else if (args == 0 && word == QLatin1String("hangup")) {
        shield.hangup();
    } else if (args == 0 && word == QLatin1String("state")) {
        say(shield.stateLine());
    } else if (args == 0 && word == QLatin1String("stats")) {
        say("spi blocks " + QByteArray::number(audio ? audio->blockCount() : 0));
    } else if (args == 0 && word == QLatin1String("quit")) {
        QCoreApplication::quit();
    } else {
        printError(QStringLiteral("unknown command: %1 (see --help)").arg(line));
    }
}

// Standard input's lines to `run`. At its end, with stay, a FIFO waits for its
// next writer; anything else is left be.
void readCommands(const std::function<void(const QString&)>& run, bool stay)
{
    auto* note = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, QCoreApplication::instance());
    auto pending = std::make_shared<QByteArray>();
    QObject::connect(note, &QSocketNotifier::activated, note, [=] {
        char buf[4096];
        const ssize_t n = ::read(STDIN_FILENO, buf, sizeof(buf));
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            return;
        if (n > 0)
            pending->append(buf, static_cast<int>(n));
        else if (!pending->isEmpty())
            pending->append('\n'); // the end closes a last line without one
        int nl;
        while ((nl = pending->indexOf('\n')) >= 0) {
            const QByteArray bytes = pending->left(nl);
            pending->remove(0, nl + 1);
            run(QString::fromUtf8(bytes));
        }
        if (n > 0)
            return;
        if (!stay) {
            QCoreApplication::quit();
            return;
        }
        note->deleteLater();
        note->setEnabled(false);
        // A FIFO opened anew waits for its next writer, so "echo cmd > fifo"
        // keeps working after the first writer has gone.
        struct stat st {};
        if (::fstat(STDIN_FILENO, &st) == 0 && S_ISFIFO(st.st_mode)) {
            const int fd = ::open("/proc/self/fd/0", O_RDONLY | O_NONBLOCK | O_CLOEXEC);
            if (fd >= 0) {
                ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
                ::dup2(fd, STDIN_FILENO);
                ::close(fd);
                readCommands(run, stay);
            }
        }
    });
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
    say("serial " + QFile::encodeName(serial.portPath()));
    serial.watch();
    replay.start();
    // A signal ends it without a verdict.
    return QCoreApplication::exec() == 0 && replay.passed() ? 0 : 1;
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
    say("serial " + QFile::encodeName(serial.portPath()));
    if (audio)
        say("spi " + QFile::encodeName(opts.spi));

    serial.watch();
    shield.start();
    readCommands([&shield, &audio](const QString& line) { runCommand(line, shield, audio.get()); }, opts.stay);

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
