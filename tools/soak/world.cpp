#include "world.h"

#include "commands/crc_korvel2023.h"

#include <unistd.h>

using namespace rig;

namespace {

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
    : RunContext(seed, verbose)
{
    clock.start();
    rig.driver.proc.onErrorLine = [this](const QByteArray& line) {
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
    };
    rig.log.keep = false; // minutes of log need not stay
    rig.log.onDatagram = [this](const UdpReceiver::Datagram& d) {
        const LogCollector::Line l = LogCollector::parse(d.bytes);
        if (l.source == "main" && l.message.startsWith("Log lines lost: "))
            logLost += l.message.mid(16).toLongLong();
        errorCmd += l.source == "Controller" && l.message == "ERROR CMD";
        if (l.source == "Controller" || l.source == "Console") {
            if (recentLog.size() > 50000)
                recentLog.erase(recentLog.begin(), recentLog.begin() + 25000);
            recentLog << l.message;
        }
    };
}

bool World::start()
{
    auto fail = [](const QString& why) { say("  FAIL  %s\n", qPrintable(why)); return false; };
    if (!audio.isReady() || !rig.log.isBound())
        return fail("cannot bind UDP 20002/20004 (another driver running? use run-soak.sh)");
    peer = std::make_unique<SpiPeer>(dir.path() + "/spi");
    audio.newLife();
    rig.driver.setSpi(dir.path() + "/spi");
    rig.driver.redirect(STDOUT_FILENO, out.writeFd());
    if (!rig.driver.start({"-ic", "102"}))
        return fail("cannot start " ZMA_DRIVER_PATH);
    uint8_t missing = 0;
    if (!rig.answerIdentity(Identity(), kStepMs, 0, &missing))
        return fail(QString::asprintf("no identity request %02X from the driver", missing));
    if (!rig.waitReady(out, outText, kStepMs) || !waitUntil([&] { return peer->count() > 0; }, kStepMs))
        return fail("the driver did not get to shield_ready with the SPI peer answering");
    rig.shield.frames.clear();
    audio.begin(rig.driver.pid());
    return true;
}

void World::pump()
{
    rig.shield.pump();
    for (const ShieldPty::Frame& fr : rig.shield.frames) {
        const QByteArray& f = fr.bytes;
        if (uint8_t(f.at(0)) != 0xFF || !CRC_Korvel2023().comparision(f)) {
            ++badDriverFrames;
            continue;
        }
        seenFrames << f;
        ++driverFrames;
        const bool link = uint8_t(f.at(3)) == 0xD1;
        const uint8_t code = uint8_t(f.at(link ? 4 : 3));
        // Past start-up the driver sends the call's codes in link mode and
        // the free doors' in command mode; a call gets no answer.
        if (link ? !(code == CALL || code == PICKUP || code == DROP || code == OPEN_1 || code == OPEN_2)
                 : !(code == OPEN_1_FREE || code == OPEN_2_FREE)) {
            ++unexpectedFrames;
            continue;
        }
        const QByteArray answer = answering.answer(f);
        if (!answer.isEmpty()) {
            ++shieldAnswers;
            sendLine(answer);
        }
    }
    rig.shield.frames.clear();
    if (state() == AnsweringShield::Ringing && now() >= nextDialAt) {
        nextDialAt = now() + 1000;
        ++repeatDials;
        sendLine(answering.dial());
    }
    audio.pump();
    rig.log.pump();
    pumpStdout();
    audio.feed();
    if (onPump)
        onPump();
    if (!fatal && !rig.driver.running())
        stall(QStringLiteral("%1 s: the driver exited (status %2)").arg(now() / 1000.0).arg(rig.driver.exitCode()));
}

void World::pumpStdout()
{
    if (paused)
        return;
    outText += out.readAvailable();
    for (int eol; (eol = outText.indexOf('\n')) >= 0; outText.remove(0, eol + 1)) {
        const QByteArray line = outText.left(eol);
        if (HeldPipe::isFiller(line))
            continue; // of a stdout pause
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
