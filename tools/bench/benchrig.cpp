#include "benchrig.h"

#include "rig/say.h"

#include <QCoreApplication>
#include <algorithm>
#include <poll.h>
#include <unistd.h>

using namespace rig;

namespace {

// True if bytes came. Readable with nothing in it, the pipe has lost its
// writer: its read end is closed, so that poll() does not report it again.
bool readPipe(HeldPipe& pipe, QByteArray& to)
{
    const QByteArray got = pipe.readAvailable();
    if (got.isEmpty())
        pipe.closeReadEnd();
    to += got;
    return !got.isEmpty();
}

} // namespace

BenchRig::BenchRig()
    : peer(dir.filePath("spi.sock"))
{
    audio.keep = log.keep = beside.keep = false; // audio is kept only while a window records
}

BenchRig::~BenchRig()
{
    reference.finish();
    besideReference.finish();
}

qint64 BenchRig::startReference(bool besideDriver)
{
    ChildProcess& proc = besideDriver ? besideReference : reference;
    const QString peerPath = dir.filePath(besideDriver ? "beside-spi.sock" : "spi.sock");
    if (besideDriver)
        besidePeer = std::make_unique<SpiPeer>(peerPath);
    else
        proc.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // Its board library reaches its peer as the driver's does.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("ZQ_BOARD_SPI", peerPath);
    proc.setProcessEnvironment(env);
    proc.setStandardInputFile(QProcess::nullDevice());
    proc.setStandardOutputFile(QProcess::nullDevice());
    proc.start(QStringLiteral(ZMA_BENCH_REF_PATH),
               besideDriver ? QStringList{QString::number(beside.port())} : QStringList());
    return proc.waitForStarted(5000) ? proc.processId() : -1;
}

bool BenchRig::startDriver(const QStringList& args, double warmupS)
{
    const auto fail = [](const QByteArray& why) { say(why); return false; };
    if (!isBound() || !shield.isOpen())
        return fail("  cannot bind UDP 20002/20004 or open a pty (another driver running? use run-bench.sh)");
    if (inPipe.readFd() < 0 || outPipe.readFd() < 0 || errPipe.readFd() < 0)
        return fail("  cannot make pipes");
    driver.setSpi(dir.filePath("spi.sock"));
    driver.redirect(STDIN_FILENO, inPipe.readFd());
    driver.redirect(STDOUT_FILENO, outPipe.writeFd());
    driver.redirect(STDERR_FILENO, errPipe.writeFd());
    bool ready = driver.start(args);
    inPipe.closeReadEnd();
    outPipe.closeWriteEnd();
    errPipe.closeWriteEnd();

    lineHeld = ready = ready && answerIdentity(Identity());
    ready = ready && serveUntil(monotonicNs() + 5 * kSec, [&] { return out.contains("\nshield_ready\n\n"); });
    if (!ready) {
        say("  driver did not reach shield_ready; stdout so far:\n%s\n", out.constData());
        finishDriver();
        return false;
    }
    stderrAtReady = int(err.count('\n'));
    say("  pid %lld, shield_ready; %.0f s to settle\n", driver.pid(), warmupS);
    return true;
}

QString BenchRig::finishDriver()
{
    inPipe.closeWriteEnd();
    return driver.endOfInput(serveUntil(monotonicNs() + 5 * kSec, [&] { return !driver.running(); }));
}

bool BenchRig::serveUntil(qint64 deadlineNs, const std::function<bool()>& done)
{
    for (;;) {
        if (done && done())
            return true;
        qint64 now = monotonicNs();
        if (now >= deadlineNs)
            return false;
        // QProcess learns of its child's end in the event loop.
        if (now >= nextEvents) {
            QCoreApplication::processEvents();
            nextEvents = now + 100 * kMs;
        }
        const int sources[] = {audio.socketFd(), log.socketFd(), beside.socketFd(),
                               lineHeld ? shield.fd() : -1, outPipe.readFd(), errPipe.readFd()};
        pollfd fds[6];
        nfds_t n = 0;
        for (int fd : sources)
            if (fd >= 0)
                fds[n++] = {fd, POLLIN, 0};
        const qint64 wait = std::max<qint64>(std::min(deadlineNs, nextEvents) - now, 0);
        const timespec ts{time_t(wait / kSec), long(wait % kSec)};
        if (::ppoll(fds, n, &ts, nullptr) <= 0)
            continue;
        now = monotonicNs();
        for (nfds_t i = 0; i < n; ++i) {
            const int fd = fds[i].fd;
            if (!fds[i].revents)
                continue;
            if (fd == audio.socketFd())
                audio.pump();
            else if (fd == log.socketFd())
                log.pump();
            else if (fd == beside.socketFd())
                beside.pump();
            else if (fd == shield.fd()) {
                shield.pump();
                lineHeld = !(fds[i].revents & POLLHUP);
            } else if (fd == outPipe.readFd() && readPipe(outPipe, out))
                outAtNs = now;
            else if (fd == errPipe.readFd())
                readPipe(errPipe, err);
        }
    }
}
