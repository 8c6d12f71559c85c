#include "rig/rig.h"

namespace rig {

bool Rig::start(const QStringList& args, const Identity& id)
{
    if (!log.isBound() || !driver.start(args) || !answerIdentity(id))
        return false;
    // The block ends with an empty line after shield_ready.
    const bool whole = waitUntil([&] {
        const QStringList l = driver.lines();
        const int at = l.indexOf("shield_ready");
        if (at < 0 || l.size() < at + 2)
            return false;
        readyLines = at + 2;
        return true;
    }, kWait);
    shield.pump();
    readyFrames = shield.frames.size();
    return whole;
}

bool Rig::waitReady(HeldPipe& out, QByteArray& text, int timeoutMs)
{
    static const QByteArray end = "\nshield_ready\n\n";
    if (!waitUntil([&] { return (text += out.readAvailable()).contains(end); }, timeoutMs))
        return false;
    text.remove(0, text.indexOf(end) + end.size());
    shield.pump();
    readyFrames = shield.frames.size();
    return true;
}

bool Rig::dial(uint8_t suffix, const QString& expectLine, uint8_t prefix)
{
    const int before = driver.lines().count(expectLine);
    shield.send(dialFrame(suffix, prefix));
    return waitUntil([&] { return driver.lines().count(expectLine) > before; }, kWait);
}

bool Rig::ring()
{
    shield.pump();
    const int from = shield.frames.size();
    return dial(12, "dial 12") && shield.waitFrame(kCallFrame, from, kWait) >= 0;
}

bool Rig::pickedUp()
{
    if (!ring())
        return false;
    shield.send(frame(PICKUP_DONE, QByteArray(), true));
    return log.waitMessage("Controller", "STATUS_CALL pickup", kWait);
}

bool Rig::blockOnly(int apartment)
{
    for (const QByteArray& line : {QByteArray("dialplan"), QByteArray("-1"), QByteArray::number(apartment), QByteArray("-1")})
        driver.writeLine(line);
    return driver.waitLine("#Shield update black list", kWait);
}

bool Rig::consoleBarrier(int timeoutMs)
{
    // A distinct tag each time: "11 e0NN" echoes "e0NN" plus a checksum.
    const QByteArray tag = QByteArray::number(0xE000 + (++barriers & 0xFF), 16);
    driver.writeLine("11 " + tag);
    return driver.waitStderr("message send:  \"" + tag, timeoutMs);
}

} // namespace rig
