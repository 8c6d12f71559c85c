#include "zma/modelkorvel2023.h"

#include <QDebug>

ModelKorvel2023::ModelKorvel2023(Settings* settings)
    : settings(settings)
{
}

CommandTESK ModelKorvel2023::build(int frameMode, uint8_t cmd) const
{
    return CommandTESK(frameMode, addrZMA, addrBUD, cmd, QByteArray(5, char(0xFF)));
}

void ModelKorvel2023::append(QQueue<CommandTESK>& queue, const CommandTESK& cmd)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        appendLocked(queue, cmd);
    }
    if (&queue != &queueReceive && queuedNotify)
        queuedNotify();
}

void ModelKorvel2023::appendLocked(QQueue<CommandTESK>& queue, const CommandTESK& cmd)
{
    // A flooding parent must not hold memory and the line for hours. What is
    // queued already stays: refusing the newest keeps the order of the rest.
    if (queue.size() >= kMaxQueued) {
        if (&queue == &queueSend)
            qDebug().noquote() << "ERROR: shield link queue full, command refused";
        else
            qDebug().noquote() << "ERROR: shield command queue full, command refused";
        return;
    }
    queue.enqueue(cmd);
}

bool ModelKorvel2023::take(QQueue<CommandTESK>& queue, CommandTESK* out)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (queue.isEmpty())
        return false;
    *out = queue.dequeue();
    return true;
}

void ModelKorvel2023::call()
{
    append(queueSend, build(MODE_LINK, CMD_CALL));
}

void ModelKorvel2023::pickup()
{
    const CommandTESK cmd = build(MODE_LINK, CMD_PICKUP);
    std::unique_lock<std::mutex> lock(mutex);
    // The waiting calls are the ringing's own traffic and end with it; the
    // parent's earlier commands still go out first, in their order.
    for (auto it = queueSend.begin(); it != queueSend.end();) {
        if (it->mode == MODE_LINK && it->cmd == CMD_CALL)
            it = queueSend.erase(it);
        else
            ++it;
    }
    appendLocked(queueSend, cmd);
    lock.unlock();
    if (queuedNotify)
        queuedNotify();
}

void ModelKorvel2023::drop()
{
    const uint8_t now = status;
    if (now == STATUS_CALL)
        append(queueSend, build(MODE_LINK, CMD_DROP));
    else if (now == STATUS_PICKUP)
        append(queueSendCmdMode, build(MODE_LINK, CMD_DROP));
}

void ModelKorvel2023::openDoor(uint8_t cmdFree, uint8_t cmdCall)
{
    const uint8_t now = status;
    if (now == STATUS_FREE)
        append(queueSendCmdMode, build(MODE_CMD, cmdFree));
    else if (now == STATUS_PICKUP)
        append(queueSendCmdMode, build(MODE_LINK, cmdCall));
    else if (now == STATUS_CALL)
        append(queueSend, build(MODE_LINK, cmdCall));
}

void ModelKorvel2023::open_1()
{
    openDoor(CMD_OPEN_1_FREE, CMD_OPEN_1);
}

void ModelKorvel2023::open_2()
{
    openDoor(CMD_OPEN_2_FREE, CMD_OPEN_2);
}

void ModelKorvel2023::read_version_ZMA()
{
    append(queueSendCmdMode, build(MODE_CMD, CMD_READ_VERSION_ZMA));
}

void ModelKorvel2023::read_version_firmware()
{
    append(queueSendCmdMode, build(MODE_CMD, CMD_READ_VERSION_FIRMWARE));
}

void ModelKorvel2023::read_uid_0_ZMA()
{
    append(queueSendCmdMode, build(MODE_CMD, CMD_READ_UID_0));
}

void ModelKorvel2023::read_uid_1_ZMA()
{
    append(queueSendCmdMode, build(MODE_CMD, CMD_READ_UID_1));
}

void ModelKorvel2023::read_uid_2_ZMA()
{
    append(queueSendCmdMode, build(MODE_CMD, CMD_READ_UID_2));
}

bool ModelKorvel2023::takeSendCmdMode(CommandTESK* out) { return take(queueSendCmdMode, out); }
bool ModelKorvel2023::takeSend(CommandTESK* out) { return take(queueSend, out); }
bool ModelKorvel2023::takeReceive(CommandTESK* out) { return take(queueReceive, out); }
void ModelKorvel2023::appendSend(const CommandTESK& cmd) { append(queueSend, cmd); }
void ModelKorvel2023::appendReceive(const CommandTESK& cmd) { append(queueReceive, cmd); }

bool ModelKorvel2023::isSendEmpty()
{
    std::lock_guard<std::mutex> lock(mutex);
    return queueSend.isEmpty();
}

bool ModelKorvel2023::hasSendCmdMode()
{
    std::lock_guard<std::mutex> lock(mutex);
    return !queueSendCmdMode.isEmpty();
}

bool ModelKorvel2023::isReceiveEmpty()
{
    std::lock_guard<std::mutex> lock(mutex);
    return queueReceive.isEmpty();
}

QList<CommandTESK> ModelKorvel2023::snapshotSend()
{
    std::lock_guard<std::mutex> lock(mutex);
    return queueSend;
}

QList<CommandTESK> ModelKorvel2023::snapshotSendCmdMode()
{
    std::lock_guard<std::mutex> lock(mutex);
    return queueSendCmdMode;
}
