#ifndef SOAK_AUDIO_H
#define SOAK_AUDIO_H

// Both audio paths through the driver: the parent's blocks to 20003 at its
// pace (floods and silences are faults), looked for whole and in order on the
// SPI line; the SPI peer's answers back on 20002, one a tick, timed by the
// kernel's stamps, with where ticks were lost set beside the audio thread's
// wait for a CPU then (the driver's timer does not catch up a missed tick).

#include "runcontext.h"

#include "rig/spipeer.h"
#include "rig/udpreceiver.h"
#include "rig/udpsender.h"
#include "rig/verdict.h"

#include <vector>

class Audio
{
public:
    explicit Audio(RunContext& run);
    bool isReady() const { return in.isBound() && out.isOpen(); }

    void pump() { in.pump(); }
    void feed();  // the parent's blocks due by now; a sample of the audio thread's wait every 100 ms
    void begin(qint64 driverPid); // counting from now on
    void newLife() { lives.push_back({}); } // a new SPI peer
    void endLife(qint64 exchanges);         // the SPI peer gone after so many exchanges
    void end(qint64 exchanges);             // counting stops
    qint64 total() const { return qint64(arrivals.size()); }
    bool disturbed() const { return mode != Normal; }
    void disturb(bool flood, int ms); // a flood or a silence for ms
    void resume();                    // the parent's pace again
    void checkLine(const QList<rig::SpiPeer::Exchange>& exchanges);
    void summary(long long driverDropLines); // the driver's lines about dropped blocks
    void report(rig::Verdict& verdict);

    qint64 silenceMs = 0;

private:
    struct PeerLife { qint64 next = 0, late = 0, answered = -1; };
    struct Sched { qint64 atMs, spiWaitNs, pressureUs; };
    void send(int blocks);
    Sched schedNow();
    qint64 atMs(size_t i) const { return firstAtMs + (arrivals[i] - arrivals[0]) / 1000000; } // on our clock
    void printLosses();

    RunContext& w;
    // to the parent
    rig::UdpReceiver in{20002, 16 << 20};
    bool counting = false;
    qint64 firstAtMs = 0, idle = 0, answers = 0, bad = 0, misordered = 0, spiTid = -1, nextSchedAt = 0, pid = -1;
    std::vector<qint64> arrivals; // kernel stamps of the counted datagrams
    std::vector<PeerLife> lives;
    std::vector<Sched> sched; // every 100 ms of the run
    // from the parent
    rig::UdpSender out{20003, true}; // floods fail a send rather than wait
    enum { Normal, Flood, Silence } mode = Normal;
    qint64 modeUntil = 0, nextBlockAt = 0, floodStart = 0, floodSent = 0, sent = 0, failed = 0, floodDatagrams = 0;
    quint32 seq = 0;
    qint64 driverSocketDrops = -1, lineParent = 0, lineIdle = 0, lineBad = 0, lineMisordered = 0, lastAtLine = -1;
};

#endif
