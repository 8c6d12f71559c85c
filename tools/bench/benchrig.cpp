#include "benchrig.h"

#include "rig/say.h"

#include <QCoreApplication>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sched.h>
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
    // Audio is kept only while a window records.
    audio.keep = log.keep = design.audio.keep = physical.audio.keep = false;
}

qint64 BenchRig::startFloor(Floor& f)
{
    const QString peerPath = dir.filePath(QString(f.name).replace(' ', '-') + "-spi.sock");
    f.peer = std::make_unique<SpiPeer>(peerPath);
    // Its board library reaches its peer as the driver's does.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("ZQ_BOARD_SPI", peerPath);
    f.proc.setProcessEnvironment(env);
    f.proc.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    f.proc.setStandardInputFile(QProcess::nullDevice());
    f.proc.setStandardOutputFile(QProcess::nullDevice());
    f.proc.start(QStringLiteral(ZMA_BENCH_REF_PATH), f.args + QStringList{QString::number(f.audio.port())});
    return f.proc.waitForStarted(5000) ? f.proc.processId() : -1;
}

QString BenchRig::matchFloorsToDriver()
{
    const qint64 tid = ProcSample::threadNamed(driver.pid(), "zma-audio");
    sched_param param{};
    const int policy = tid < 0 ? -1 : ::sched_getscheduler(pid_t(tid));
    if (policy < 0 || ::sched_getparam(pid_t(tid), &param) != 0)
        return "no zma-audio thread in the driver; the floors' audio threads left at normal priority";
    if (policy != SCHED_FIFO && policy != SCHED_RR)
        return "the driver's zma-audio at normal priority, as the floors' audio threads";
    QString said = QString("the floors' audio threads at SCHED_FIFO %1 as the driver's zma-audio").arg(param.sched_priority);
    for (Floor* f : {&design, &physical}) {
        const qint64 ftid = ProcSample::threadNamed(f->proc.processId(), "audio");
        if (ftid < 0 || ::sched_setscheduler(pid_t(ftid), policy, &param) != 0)
            said += QString("; not the %1's (%2)").arg(f->name, ftid < 0 ? "no audio thread" : strerror(errno));
    }
    return said;
}

bool BenchRig::startDriver(const QStringList& args, double warmupS)
{
    const auto fail = [](const QByteArray& why) { say(why); return false; };
    if (!isBound() || !shield.isOpen())
        return fail("  cannot bind UDP 20002/20004/20012/20013 or open a pty (another driver running? use run-bench.sh)");
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

bool BenchRig::startSettled(const Parent& parent, const QStringList& args, double warmupS)
{
    if (!parent.isOpen())
        say("  cannot make a UDP socket\n");
    const bool up = parent.isOpen() && startDriver(args, warmupS);
    if (up)
        serveForMs(warmupS * 1000);
    return up;
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
        // The receivers, the line, stdout, stderr; poll() passes over a closed one's -1.
        UdpReceiver* const receivers[] = {&audio, &log, &design.audio, &physical.audio};
        const int sources[] = {audio.socketFd(), log.socketFd(), design.audio.socketFd(), physical.audio.socketFd(),
                               lineHeld ? shield.fd() : -1, outPipe.readFd(), errPipe.readFd()};
        pollfd fds[7];
        for (int i = 0; i < 7; ++i)
            fds[i] = {sources[i], POLLIN, 0};
        const qint64 wait = std::max<qint64>(std::min(deadlineNs, nextEvents) - now, 0);
        const timespec ts{time_t(wait / kSec), long(wait % kSec)};
        if (::ppoll(fds, 7, &ts, nullptr) <= 0)
            continue;
        now = monotonicNs();
        for (int i = 0; i < 4; ++i)
            if (fds[i].revents)
                receivers[i]->pump();
        if (fds[4].revents) {
            shield.pump();
            lineHeld = !(fds[4].revents & POLLHUP);
        }
        if (fds[5].revents && readPipe(outPipe, out))
            outAtNs = now;
        if (fds[6].revents)
            readPipe(errPipe, err);
    }
}
