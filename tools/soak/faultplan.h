#ifndef SOAK_FAULTPLAN_H
#define SOAK_FAULTPLAN_H

// A fault every 1.5 to 8 s: each kind once in a random order first (the
// warm-up, after which the driver's RSS and descriptors count as its own),
// then at random. Those of the serial line, stdout and stdin wait for a
// point between two steps of a call.

#include "rig/procsample.h"

#include <algorithm>
#include <vector>

class World;

class FaultPlan
{
public:
    explicit FaultPlan(World& world) : w(world) {}
    void begin();        // the first fault at once
    void pump();         // a fault when it is time, a fault's end when it is over
    void betweenSteps(); // a serial, stdout or stdin fault that is due
    void stop() { std::fill(std::begin(due), std::end(due), false); } // no more faults
    void undo();         // everything back: the SPI peer, the parent's pace, stdout read
    void summary();

    enum Fault { Hangup, SpiKill, Junk, UdpFlood, UdpSilence, StdoutPause, Dialplan, kFaults };
    int thrown[kFaults] = {};
    qint64 warmAt = -1, rssWarm = -1;
    rig::ProcSample::FdKinds fdWarm;

private:
    void pick();
    void hangUp();
    void junk();
    void pauseStdout();
    void reloadDialplan();
    void restartSpi();

    World& w;
    bool due[kFaults] = {};
    std::vector<int> warmOrder;
    qint64 nextFaultAt = 0, spiBackAt = 0, pauseUntil = 0, countAtKill = 0;
    qint64 hangDownMs = 0, spiGoneMs = 0, pausedMs = 0, junkBytes = 0;
    bool inSerialFault = false;
};

#endif
