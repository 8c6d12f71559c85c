#ifndef SHIELD_SIM_SHIELD_H
#define SHIELD_SIM_SHIELD_H

// The simulator's shield: the rig's answering shield, answering after
// --delay ms in the board's own frames, with the rings timed and the rx, tx
// and state lines that show them. Silent mode still prints rx lines and
// still dials for ring commands.

#include "commands/receivestream.h"
#include "rig/answeringshield.h"
#include "zma/dialplan.h"

#include <QElapsedTimer>
#include <QTimer>

#include <cstdint>

struct Options;

class Shield : public QObject
{
public:
    // Takes over line.onRead.
    Shield(const Options& opts, rig::ShieldPty& line);

    // Starts the ring timers and --auto-ring; prints the first state line.
    void start();

    bool isIdle() const { return answering.state() == rig::AnsweringShield::Idle; }
    // "state idle", "state ringing N" or "state talking N".
    QByteArray stateLine() const;

    // Dial apartment N: CMD_DIAL with data N 00 00 00, every second until
    // picked up or dropped.
    void ring(uint8_t apartment) { startRing(apartment, 0, apartment); }
    // Dial in gate mode: data S 00 P 00 for prefix P, suffix S.
    void ringGate(uint8_t p, uint8_t s) { startRing(s, p, DialPlan::combinePrefixSuffix(p, s)); }
    void hangup();
    // Bytes as given, after whatever is queued, on a "tx HEX raw" line.
    void sendRaw(const QByteArray& bytes) { send(bytes, "raw", 0); }
    void setSilent(bool on) { answering.silent = on; }

private:
    void showState(); // the state line on a change
    void startRing(uint8_t suffix, uint8_t prefix, int shownNumber);
    void received(const QByteArray& chunk);
    void sendFrame(const QByteArray& frame, int delayMs);
    // Each leaves at its due time but never before what was queued earlier,
    // and prints its tx line as it goes; name ends the line. With delayMs 0
    // and nothing waiting the bytes leave before this returns.
    void send(const QByteArray& bytes, const QByteArray& name, int delayMs);
    void sendDue();

    struct Pending {
        qint64 due;
        QByteArray bytes;
        QByteArray name;
    };

    const Options& opts;
    rig::ShieldPty& line;
    rig::AnsweringShield answering;
    // Keeps the bytes no valid frame took, for the rx garbage lines.
    ReceiveStream fromDriver{ReceiveStream::kDefaultMaxPending, true};
    QElapsedTimer txClock;
    QList<Pending> txQueue;
    QTimer txTimer;
    QTimer dialTimer;
    QTimer ringTimeout;
    QTimer autoRingTimer;
    rig::AnsweringShield::State shown = rig::AnsweringShield::Idle;
    int number = 0; // as the driver will show it
};

#endif
