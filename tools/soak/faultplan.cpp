#include "faultplan.h"
#include "world.h"

#include "commands/crc_korvel2023.h"
#include "rig/say.h"

using namespace rig;

static const char* const kFaultNames[] = {"shield hang-up", "SPI peer killed", "junk on the line", "UDP flood",
                                          "UDP silence", "stdout pause", "dial-plan reload in a call"};

void FaultPlan::begin()
{
    for (int f = 0; f < kFaults; ++f)
        warmOrder.push_back(f);
    for (int i = kFaults - 1; i > 0; --i)
        std::swap(warmOrder[size_t(i)], warmOrder[size_t(w.uni(0, i))]);
    pick();
    nextFaultAt = w.now() + w.uni(1500, 8000);
}

void FaultPlan::pick()
{
    const int f = warmOrder.empty() ? w.uni(0, kFaults - 1) : warmOrder.front();
    if (!warmOrder.empty())
        warmOrder.erase(warmOrder.begin());
    const bool udp = f == UdpFlood || f == UdpSilence;
    if (f == SpiKill ? !w.peer : udp ? w.audio.disturbed() : due[f]) {
        if (warmAt < 0)
            warmOrder.push_back(f); // busy: later
    } else if (f == SpiKill) {
        ++thrown[SpiKill];
        w.audio.checkLine(w.peer->exchanges());
        countAtKill = w.peer->count();
        w.peer.reset();
        const int ms = w.uni(300, 4000);
        spiBackAt = w.now() + ms;
        spiGoneMs += ms;
        w.note(QStringLiteral("SPI peer killed for %1 ms").arg(ms));
    } else if (udp) {
        ++thrown[f];
        const int ms = f == UdpFlood ? w.uni(1000, 6000) : w.uni(1000, 8000);
        w.audio.disturb(f == UdpFlood, ms);
        w.note(QStringLiteral("%1 for %2 ms").arg(kFaultNames[f]).arg(ms));
    } else {
        due[f] = true; // the serial line, stdout and stdin wait for a point between steps
    }
}

void FaultPlan::pump()
{
    if (!w.peer && w.now() >= spiBackAt)
        restartSpi();
    if (w.paused && w.now() >= pauseUntil) {
        w.paused = false;
        w.note("stdout read again");
    }
    if (w.windingDown)
        return;
    if (w.now() >= nextFaultAt) {
        pick();
        nextFaultAt = w.now() + w.uni(1500, 8000);
    }
    // Measured with everything connected, as at start-up and at the end.
    if (warmAt < 0 && warmOrder.empty() && w.peer && w.peer->count() > 0 && !inSerialFault
        && !w.audio.disturbed() && !w.paused && std::count(std::begin(thrown), std::end(thrown), 0) == 0) {
        warmAt = w.now();
        rssWarm = w.rig.driver.rssKb();
        fdWarm = ProcSample::fdKinds(w.rig.driver.pid());
        say("  warm-up done at %.1f s (every fault once): RSS %lld KiB, %d descriptors\n", warmAt / 1000.0, rssWarm,
            ProcSample::fdCount(fdWarm));
    }
}

void FaultPlan::betweenSteps()
{
    if (inSerialFault || w.windingDown)
        return;
    inSerialFault = true;
    for (Fault f : {Hangup, Junk, StdoutPause, Dialplan}) {
        if (!due[f] || (f == StdoutPause && w.paused) || (f == Dialplan && w.state() == AnsweringShield::Idle))
            continue;
        due[f] = false;
        ++thrown[f];
        f == Hangup ? hangUp() : f == Junk ? junk() : f == StdoutPause ? pauseStdout() : reloadDialplan();
        break;
    }
    inSerialFault = false;
}

void FaultPlan::undo()
{
    if (!w.peer)
        restartSpi();
    w.audio.resume();
    w.paused = false;
}

void FaultPlan::hangUp()
{
    const long long closed0 = w.closed, opened0 = w.opened;
    // The call goes with the line: the driver reports it dropped.
    if (w.state() != AnsweringShield::Idle) {
        ++w.hangupDrops;
        w.expCtl << "drop";
    }
    w.answering.hangUp(); // no drop frame gets through
    w.rig.shield.hangUp();
    w.rig.shield.partial.clear();
    if (!w.await("the driver closes the hung-up port", [&] { return w.closed > closed0; }))
        return;
    const int down = w.uni(300, 4000);
    w.note(QStringLiteral("shield hung up for %1 ms").arg(down));
    hangDownMs += down;
    w.idle(down, false);
    if (!w.rig.shield.open())
        w.stall("cannot open a new pty");
    else
        w.await("the driver reopens the port", [&] { return w.opened > opened0; });
}

void FaultPlan::junk()
{
    // Random bytes that hold no valid frame, and no frame start in the last
    // nine, so that no frame of ours is taken into one.
    QByteArray j(w.uni(64, 2048), Qt::Uninitialized);
    for (char& c : j)
        c = char(w.rng.bounded(256));
    for (int i = 0; i + 10 <= j.size(); ++i)
        if (uint8_t(j.at(i)) == 0xFF && CRC_Korvel2023().comparision(reinterpret_cast<const unsigned char*>(j.constData()) + i))
            j[i] = 0;
    for (int i = std::max(0, int(j.size()) - 9); i < j.size(); ++i)
        if (uint8_t(j.at(i)) == 0xFF)
            j[i] = char(0xFE);
    w.note(QStringLiteral("%1 bytes of junk on the line").arg(j.size()));
    junkBytes += j.size();
    if (!w.sendLine(j))
        w.stall(QStringLiteral("%1 s: the pty did not take the junk").arg(w.now() / 1000.0));
}

void FaultPlan::pauseStdout()
{
    // The pipe is made full while no status line is on its way, so that our
    // filling and the driver's writing never meet.
    if (!w.await("status lines in before a stdout pause", [&] { return w.allLinesIn(); }))
        return;
    w.pumpStdout();
    w.out.fill();
    const int ms = w.uni(1000, 8000);
    w.note(QStringLiteral("stdout not read for %1 ms").arg(ms));
    w.paused = true;
    pauseUntil = w.now() + ms;
    pausedMs += ms;
}

void FaultPlan::reloadDialplan()
{
    QByteArray text = "dialplan\n";
    for (int k = w.uni(0, 3); k > 0; --k)
        text += QByteArray::number(w.uni(1, 1023)) + '\n';
    text += "-1\n";
    QSet<int> black;
    for (int k = w.uni(0, 4); k > 0; --k)
        black.insert(w.uni(1, 200));
    for (int n : black)
        text += QByteArray::number(n) + '\n';
    w.expCon << "mask_imit" << "#Write dialPlan for shield:" << "#End read dialPlan" << "" << "mask_block"
             << "#Write blacklist dialPlan for shield:" << "#End read dialPlan" << "" << "#Shield update virtual list"
             << "#Shield update black list";
    w.note(QStringLiteral("dial plan reloaded during a call: %1 blocked").arg(black.size()));
    w.parent(text + "-1");
    if (w.barrier("the dial plan taken"))
        w.blocked = black;
}

void FaultPlan::restartSpi()
{
    w.audio.endLife(countAtKill);
    w.audio.newLife();
    w.peer = std::make_unique<SpiPeer>(w.dir.path() + "/spi");
    w.note("SPI peer back");
}

void FaultPlan::summary()
{
    QStringList faults;
    for (int f = 0; f < kFaults; ++f)
        faults << QStringLiteral("%1 %2").arg(kFaultNames[f]).arg(thrown[f]);
    say("faults thrown: %s\n", qPrintable(faults.join(", ")));
    say("  shield hung up %.1f s in all, SPI peer gone %.1f s, UDP silence %.1f s, stdout unread %.1f s, "
        "%lld junk bytes\n",
        hangDownMs / 1000.0, spiGoneMs / 1000.0, w.audio.silenceMs / 1000.0, pausedMs / 1000.0, junkBytes);
}
