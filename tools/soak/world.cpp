#include "world.h"

#include "rig/refcrc.h"
#include "rig/say.h"

#include <sys/socket.h>
#include <unistd.h>

using namespace rig;

namespace {

const QByteArray kReady = "\nshield_ready\n\n";

// A diagnostics summary line stands for the count it carries.
long long occurrences(const QByteArray& line)
{
    const int at = line.lastIndexOf(" (repeated ");
    if (at < 0 || !line.endsWith(" times)"))
        return 1;
    return line.mid(at + 11, line.size() - at - 11 - 7).toLongLong();
}

} // namespace

World::World(quint32 seed, bool verbose)
    : verbose(verbose), rng(seed)
{
    clock.start();
    rig.driver.proc.onErrorLine = [this](const QByteArray& line) { stderrLine(line); };
    rig.log.keep = false; // minutes of log need not stay
    rig.log.onDatagram = [this](const UdpReceiver::Datagram& d) { logDatagram(d.bytes); };
    // As large as the audio listener's: a busy moment of ours loses no line.
    const int size = 16 << 20;
    if (::setsockopt(rig.log.socketFd(), SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size) != 0)
        ::setsockopt(rig.log.socketFd(), SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
}

void World::note(const QString& what) const
{
    if (verbose)
        say("  [%7.2f s] %s\n", now() / 1000.0, qPrintable(what));
}

bool World::start()
{
    if (!audio.isReady() || !rig.log.isBound()) {
        say("  FAIL  cannot bind UDP 20002/20004 (another driver running? use run-soak.sh)\n");
        return false;
    }
    peer = std::make_unique<SpiPeer>(dir.path() + "/spi");
    audio.newLife();
    rig.driver.setSpi(dir.path() + "/spi");
    rig.driver.redirect(STDOUT_FILENO, out.writeFd());
    if (!rig.driver.start({"-ic", "102"})) {
        say("  FAIL  cannot start %s\n", ZMA_DRIVER_PATH);
        return false;
    }
    int from = 0;
    for (uint8_t request : kIdentityRequests) {
        const int at = rig.shield.waitFrame(frame(request), from, kStepMs);
        if (at < 0) {
            say("  FAIL  no identity request %02X from the driver\n", request);
            return false;
        }
        from = at + 1;
        rig.shield.send(identityAnswer(request, Identity()));
    }
    if (!waitUntil([&] { return (outText += out.readAvailable()).contains(kReady); }, kStepMs)
        || !waitUntil([&] { return peer->count() > 0; }, kStepMs)) {
        say("  FAIL  the driver did not get to shield_ready with the SPI peer answering\n");
        return false;
    }
    outText.remove(0, outText.indexOf(kReady) + kReady.size());
    rig.shield.pump();
    rig.shield.frames.clear();
    audio.begin();
    return true;
}

void World::pump()
{
    pumpShield();
    audio.pump();
    rig.log.pump();
    pumpStdout();
    audio.feed();
    if (onPump)
        onPump();
    if (!fatal && !rig.driver.running())
        stall(QStringLiteral("%1 s: the driver exited (status %2)").arg(now() / 1000.0).arg(rig.driver.exitCode()));
}

bool World::sendLine(const QByteArray& bytes)
{
    return rig.shield.sendAll(bytes, [this] { audio.pump(); rig.log.pump(); }, kStepMs);
}

void World::pumpShield()
{
    rig.shield.pump();
    for (const ShieldPty::Frame& fr : rig.shield.frames) {
        const QByteArray& f = fr.bytes;
        if (uint8_t(f.at(0)) != 0xFF || refCrc8(f, 1, 9) != uint8_t(f.at(9))) {
            ++badDriverFrames;
            continue;
        }
        seenFrames << f;
        ++driverFrames;
        const bool link = uint8_t(f.at(3)) == 0xD1;
        const uint8_t code = uint8_t(f.at(link ? 4 : 3));
        // Answers as the shield does; a call is confirmed by dialling again.
        QByteArray answer;
        if (link && (code == PICKUP || code == DROP || code == OPEN_1 || code == OPEN_2))
            answer = frame(code == PICKUP ? uint8_t(PICKUP_DONE) : code, QByteArray(), true);
        else if (!link && (code == OPEN_1_FREE || code == OPEN_2_FREE))
            answer = frame(code == OPEN_1_FREE ? OPEN_1_FREE_DONE : OPEN_2_FREE_DONE);
        else if (!(link && code == CALL))
            ++unexpectedFrames;
        if (link && code == PICKUP && state == Ringing)
            state = Talking;
        else if (link && code == DROP)
            state = Idle;
        if (!answer.isEmpty()) {
            ++shieldAnswers;
            sendLine(answer);
        }
    }
    rig.shield.frames.clear();
    if (state == Ringing && now() >= nextDialAt) {
        nextDialAt = now() + 1000;
        ++repeatDials;
        sendLine(dialFrame(uint8_t(ringNumber)));
    }
}

void World::logDatagram(const QByteArray& d)
{
    const int open = d.indexOf("] [");
    const int close = d.indexOf("]: ", open + 3);
    if (!d.startsWith("[Debug][") || open < 0 || close < 0 || !d.endsWith("\r\n"))
        return;
    const QByteArray source = d.mid(open + 3, close - open - 3);
    const QByteArray message = d.mid(close + 3, d.size() - close - 5);
    if (source == "main" && message.startsWith("Log lines lost: "))
        logLost += message.mid(16).toLongLong();
    errorCmd += source == "Controller" && message == "ERROR CMD";
    if (source == "Controller" || source == "Console") {
        if (recentLog.size() > 50000)
            recentLog.erase(recentLog.begin(), recentLog.begin() + 25000);
        recentLog << message;
    }
}

void World::stderrLine(const QByteArray& line)
{
    barrierSeen = barrierSeen || (!barrierEcho.isEmpty() && line.contains(barrierEcho));
    if (line.startsWith("DEBUG: USART: Успешно открыт порт"))
        opened += occurrences(line);
    else if (line.startsWith("DEBUG: USART: порт закрыт после ошибки"))
        closed += occurrences(line);
    else if (line.startsWith("ERROR: stdout: a status line was lost"))
        linesLostReported += occurrences(line);
    else if (line.contains("received bytes dropped"))
        ++serialDropLines;
    else if (line.startsWith("ERROR: UDP audio: dropped"))
        ++udpDropLines;
    else if (line.startsWith("board: SPI peer"))
        ++spiDiag;
}

void World::pumpStdout()
{
    if (paused)
        return;
    outText += out.readAvailable();
    for (int eol; (eol = outText.indexOf('\n')) >= 0; outText.remove(0, eol + 1)) {
        const QByteArray line = outText.left(eol);
        if (!line.isEmpty() && line.count('~') == line.size())
            continue; // the filler of a stdout pause
        const bool ctl = line == "drop" || (line.startsWith("dial ") && line.endsWith(" 0"));
        (ctl ? gotCtl : gotCon) << line;
    }
}

bool World::await(const char* what, const std::function<bool()>& cond, int ms)
{
    if (stopping())
        return false;
    QElapsedTimer t;
    t.start();
    const bool ok = waitUntil([&] { return stopping() || cond(); }, ms, [&] { pump(); }) && !stopping();
    ++steps;
    if (t.elapsed() > slowestStep) {
        slowestStep = t.elapsed();
        slowestWhat = what;
    }
    if (!ok && !stopping())
        stall(QStringLiteral("%1 s: %2: not within %3 ms").arg(now() / 1000.0, 0, 'f', 1).arg(what).arg(ms));
    return ok;
}

bool World::barrier(const char* what)
{
    // "11 HEX" only echoes on stderr: once it is there, every earlier line
    // has been handled by the console thread.
    const QByteArray tag = QByteArray::number(0xE000 + (++barriers & 0xFFF), 16);
    barrierEcho = "message send:  \"" + tag;
    barrierSeen = false;
    parent("11 " + tag);
    return await(what, [&] { return barrierSeen; });
}

void World::idle(qint64 ms, bool faults)
{
    const qint64 until = now() + ms;
    while (!stopping() && now() < until) {
        pump();
        if (faults && betweenSteps)
            betweenSteps();
        spin(1);
    }
}
