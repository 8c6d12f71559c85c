#ifndef SHIELD_SIM_SHIELD_H
#define SHIELD_SIM_SHIELD_H

// The shield's side of the serial protocol: the call state, the rings, the
// answers, and the rx, tx and state lines that show them.
//
// Answers, after --delay ms, in the frame mode of the request, never while
// silent: A0 -> A0 version revision; A2 -> A2 firmware-low firmware-high
// beta; A3/A4/A5 -> same code with the UID word little-endian; CMD_PICKUP ->
// CMD_PICKUP_DONE; CMD_DROP -> CMD_DROP; CMD_OPEN_1/2 -> same code;
// CMD_OPEN_1_FREE/CMD_OPEN_2_FREE -> CMD_OPEN_1_FREE_DONE/CMD_OPEN_2_FREE_DONE.
// CMD_CALL gets none: a ringing line confirms it by dialling again.
// CMD_PICKUP turns a ringing call into talking, CMD_DROP ends any call; both
// are answered in any state. Silent mode still prints rx lines and still
// dials for ring commands.

#include "framecutter.h"
#include "txqueue.h"

#include <QTimer>

#include <cstdint>

struct Options;

namespace rig {
class ShieldPty;
}

class Shield : public QObject
{
public:
    // Takes over line.onRead.
    Shield(const Options& opts, rig::ShieldPty& line, QObject* parent = nullptr);

    // Starts the ring timers and --auto-ring; prints the first state line.
    void start();

    bool isIdle() const { return state == Idle; }
    // "state idle", "state ringing N" or "state talking N".
    QByteArray stateLine() const;

    // Dial apartment N: CMD_DIAL with data N 00 00 00, every second until
    // picked up or dropped.
    void ring(uint8_t apartment);
    // Dial in gate mode: data S 00 P 00.
    void ringGate(uint8_t prefix, uint8_t suffix);
    // CMD_DROP to the driver; the call ends.
    void hangup();
    // Bytes as given, after whatever is queued, on a "tx HEX raw" line.
    void sendRaw(const QByteArray& bytes) { tx.send(bytes, "raw", 0); }
    // Silent: no answers; frames are still shown and rings still dial.
    void setSilent(bool on) { silent = on; }

private:
    enum State { Idle, Ringing, Talking };

    void setState(State s);
    void startRing(const QByteArray& data, int shownNumber);
    void received(const QByteArray& chunk);
    void handleFrame(const QByteArray& frame);
    void sendFrame(const QByteArray& frame, int delayMs);

    const Options& opts;
    FrameCutter cutter;
    TxQueue tx;
    QTimer dialTimer;
    QTimer ringTimeout;
    QTimer autoRingTimer;
    QByteArray dialFrame;
    State state = Idle;
    int number = 0; // as the driver will show it
    bool silent = false;
};

#endif
