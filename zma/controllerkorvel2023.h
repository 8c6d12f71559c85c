#ifndef CONTROLLERKORVEL2023_H
#define CONTROLLERKORVEL2023_H

#include "commands/commandtesk.h"
#include "commands/receivestream.h"
#include "sound/audiostats.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <cstdint>

class ModelKorvel2023;
class ViewKorvelTesk;
class Wakeup;

// Reacts to the shield's frames: first the start-up cycle that reads the
// shield's identity, then the call cycle. A cycle runs when there is work
// for it (a chunk from the line, a command queued) and at once; commands
// for the shield's command mode leave one per period at most, and the
// cycle's timer runs only while one waits for its turn.
class ControllerKorvel2023 : public QObject
{
    Q_OBJECT
public:
    explicit ControllerKorvel2023(ModelKorvel2023* model);

    void start(int ms);
    // waitConsole: the console reader has ended and its thread can be joined.
    void stop(bool waitConsole);

    // Frames handled per tick at most, so a tick stays short; a full line
    // brings about one frame per tick.
    static constexpr int kMaxFramesPerTick = 32;

    // A shield that never answered its identity is asked again this long
    // after the last request was given up, and said to be silent at most
    // once a minute.
    static constexpr int kIdentityRetryMs = 5000;
    static constexpr int kSilentReportMs = 60000;
    // Received bytes dropped are said at most once a second.
    static constexpr int kDropReportMs = 1000;

public slots:
    void main_cycle();
    void init_cycle();

private slots:
    void slotPortLost();
    void slotAbandoned(const CommandTESK& cmd, int sends);
    void slotIdentityRetry();

private:
    // The cycle in force, now: from the wake-up or its timer.
    void run();
    // One tick of either cycle: frames from the shield to their handler.
    void tick(bool callCycle);
    // Times the next tick for what still waits, or lets the cycle sleep.
    void scheduleNext();
    // Moves every chunk the serial line delivered into the decoder; returns
    // whether there was one.
    bool takeChunks();
    void reportDroppedBytes();
    bool sendFirst(bool cmdMode);
    void handleFrame(const CommandTESK& receiveCmd);
    void in_free(CommandTESK receiveCmd);
    void in_cell(CommandTESK receiveCmd);
    void in_pickup(CommandTESK receiveCmd);
    void handleIdentity(const CommandTESK& receiveCmd);
    // With -confirm, the parent hears that the shield opened door 1 or 2.
    void confirmOpen(int door);
    // The log gets what the parent's audio lost during the call.
    void logCallAudio();
    static uint32_t make_uint32_from_bytes(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3);

    ModelKorvel2023* model;
    ViewKorvelTesk* view;
    QTimer* timerCycle;
    QTimer* timerCycleInit;
    QTimer* timerIdentityRetry;
    Wakeup* wakeup;
    // Since the last command-mode frame: the next waits a period after it.
    QElapsedTimer lastCmdModeSend;
    qint64 periodNs = 1000000;
    // Said on stderr to be silent, and not yet said to answer.
    bool shieldSilent = false;
    QElapsedTimer lastSilentReport;
    AudioStats::Counts callAudioStart;
    ReceiveStream receiveStream;
    bool identityPending = true;
    CommandTESK outgoing;
    qint64 droppedBytes = 0;
    QElapsedTimer lastDropReport;
};

#endif
