#ifndef MODELKORVEL2023_H
#define MODELKORVEL2023_H

#include "commands/callstatus.h"
#include "commands/commandtesk.h"
#include "zma/dialplan.h"

#include <QQueue>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>

class Settings;

// State of the intercom line and the queues of frames for the shield. The
// console thread builds commands while the main thread sends them, so every
// queue operation goes through the one mutex.
class ModelKorvel2023
{
public:
    // Frames each send queue holds at most; a command past it is refused.
    static constexpr int kMaxQueued = 64;

    explicit ModelKorvel2023(Settings* settings);

    // Called, in the appending thread and outside the lock, after a frame
    // was queued for the shield; set before other threads use the model.
    void onQueued(std::function<void()> notify) { queuedNotify = std::move(notify); }

    void call();
    void pickup();
    void drop();
    void open_1();
    void open_2();
    void read_version_ZMA();
    void read_version_firmware();
    void read_uid_0_ZMA();
    void read_uid_1_ZMA();
    void read_uid_2_ZMA();

    // Locked queue operations; take* return false when the queue is empty.
    bool takeSendCmdMode(CommandTESK* out);
    bool takeSend(CommandTESK* out);
    bool takeReceive(CommandTESK* out);
    void appendSend(const CommandTESK& cmd);
    void appendReceive(const CommandTESK& cmd);
    bool isSendEmpty();
    bool hasSendCmdMode();
    bool isReceiveEmpty();
    QList<CommandTESK> snapshotSend();
    QList<CommandTESK> snapshotSendCmdMode();

    std::atomic<uint8_t> mode{MODE_CMD};
    std::atomic<uint8_t> status{STATUS_FREE};
    const uint8_t addrZMA = 0x48;
    const uint8_t addrBUD = 0x65;
    DialPlan dialPlan;
    Settings* settings;

private:
    CommandTESK build(int frameMode, uint8_t cmd) const;
    void append(QQueue<CommandTESK>& queue, const CommandTESK& cmd);
    // Queues cmd unless the queue is full; the caller holds the mutex.
    void appendLocked(QQueue<CommandTESK>& queue, const CommandTESK& cmd);
    bool take(QQueue<CommandTESK>& queue, CommandTESK* out);
    void openDoor(uint8_t cmdFree, uint8_t cmdCall);

    QQueue<CommandTESK> queueSend;
    QQueue<CommandTESK> queueSendCmdMode;
    QQueue<CommandTESK> queueReceive;
    std::mutex mutex;
    std::function<void()> queuedNotify;
};

#endif
