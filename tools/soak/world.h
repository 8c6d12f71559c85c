#ifndef SOAK_WORLD_H
#define SOAK_WORLD_H

// The driver on the rig with all it talks to, pumped about every millisecond:
// the shield answers as the real one does; stdout, stderr and the log are
// counted as they come. The calls, the faults and the report act on it.

#include "audio.h"
#include "runcontext.h"

#include "rig/answeringshield.h"
#include "rig/heldpipe.h"
#include "rig/rig.h"

#include <QSet>
#include <QTemporaryDir>
#include <memory>

constexpr int kStepMs = 5000; // bound for any step of a call or a fault

class World : public RunContext
{
public:
    World(quint32 seed, bool verbose);

    // A stall ends the run, but the wind-down and the last checks still wait.
    bool stopping() const { return fatal && !windingDown; }
    void stall(const QString& what) { stalls << what; fatal = true; }

    bool start(); // the driver up, its identity answered, the SPI peer answering
    void pump();  // every peer once, then onPump
    // To the driver's serial port, whole.
    bool sendLine(const QByteArray& b) { return rig.shield.sendAll(b, [this] { audio.pump(); rig.log.pump(); }, kStepMs); }
    void parent(const QByteArray& line) { rig.driver.writeRaw(line + '\n'); }
    void pumpStdout();

    // Steps: what an action must bring, awaited within a bound.
    void mark() { seenFrames.clear(); recentLog.clear(); }
    bool await(const char* what, const std::function<bool()>& cond, int ms = kStepMs);
    bool frameSeen(const QByteArray& f) const { return seenFrames.contains(f); }
    bool logSeen(const QByteArray& message) const { return recentLog.contains(message); }
    bool allLinesIn() const { return gotCtl.size() >= expCtl.size() && gotCon.size() >= expCon.size(); }
    bool barrier(const char* what);
    void idle(qint64 ms, bool faults = true); // faults: betweenSteps

    std::function<void()> onPump, betweenSteps;
    QTemporaryDir dir;
    // The shield's pty, the log on 20004 (with the audio listener's large
    // buffer: a busy moment of ours loses no line), the driver.
    rig::Rig rig{16 << 20};
    std::unique_ptr<rig::SpiPeer> peer;
    rig::HeldPipe out; // the driver's stdout: a parent that may pause
    Audio audio{*this};
    bool fatal = false, windingDown = false, paused = false;
    QStringList stalls;
    int steps = 0;
    qint64 slowestStep = 0;
    QString slowestWhat;

    rig::AnsweringShield answering; // the call's state, the dial it repeats while ringing
    rig::AnsweringShield::State state() const { return answering.state(); }
    qint64 nextDialAt = 0;
    QList<QByteArray> seenFrames; // from the driver since the last mark
    int driverFrames = 0, badDriverFrames = 0, unexpectedFrames = 0;
    int rings = 0, ringsBlocked = 0, repeatDials = 0, shieldAnswers = 0, shieldDrops = 0;
    int pickups = 0, doorsInCall = 0, doorsFree = 0, parentDrops = 0, hangupDrops = 0;
    QSet<int> blocked;

    // Status lines: controller lines (dial, drop) and console replies apart,
    // since the two threads' lines may interleave either way.
    QList<QByteArray> expCtl, expCon, gotCtl, gotCon;
    QByteArray outText;
    long long opened = 0, closed = 0, linesLostReported = 0, serialDropLines = 0, udpDropLines = 0, spiDiag = 0;
    QList<QByteArray> recentLog; // the controller's and console's, since the last mark
    qint64 logLost = 0, errorCmd = 0;

private:
    QByteArray barrierEcho;
    bool barrierSeen = false;
    int barriers = 0;
};

#endif
