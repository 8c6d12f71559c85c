#include "e2ehelpers.h"
#include "support/refcrc.h"

using namespace zmatest;

namespace e2e {

const QByteArray kCallFrame = hex("FF 65 48 D1 02 FF FF FF FF 7C");
const QByteArray kPickupFrame = hex("FF 65 48 D1 03 FF FF FF FF B1");
const QByteArray kDropFrame = hex("FF 65 48 D1 04 FF FF FF FF E0");
const QByteArray kOpen1CallFrame = hex("FF 65 48 D1 08 FF FF FF FF C1");
const QByteArray kOpen1Frame = hex("FF 65 48 21 FF FF FF FF FF 44");
const QByteArray kOpen2Frame = hex("FF 65 48 23 FF FF FF FF FF 2A");

QByteArray frame(uint8_t cmd, const QByteArray& data, bool link)
{
    QByteArray f(10, char(0xFF));
    f[1] = char(0x65);
    f[2] = char(0x48);
    int at = 4;
    if (link) {
        f[3] = char(0xD1);
        f[4] = char(cmd);
        at = 5;
    } else {
        f[3] = char(cmd);
    }
    for (int i = 0; i < data.size() && at + i < 9; ++i)
        f[at + i] = data.at(i);
    f[9] = char(refCrc8(f, 1, 9));
    return f;
}

QByteArray dialFrame(uint8_t suffix, uint8_t prefix)
{
    QByteArray d(4, char(0));
    d[0] = char(suffix);
    d[2] = char(prefix);
    return frame(DIAL, d, true);
}

QString spaced(const QByteArray& bytes)
{
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

QByteArray identityAnswer(uint8_t request, const Identity& id)
{
    auto le = [](uint32_t w) {
        QByteArray d(4, char(0));
        for (int i = 0; i < 4; ++i)
            d[i] = char((w >> (8 * i)) & 0xFF);
        return d;
    };
    QByteArray d;
    switch (request) {
    case VERSION:
        d = QByteArray(1, char(id.version)) + char(id.revision);
        break;
    case FIRMWARE:
        d = QByteArray(1, char(id.firmware & 0xFF)) + char(id.firmware >> 8) + char(id.beta);
        break;
    case UID_0:
    case UID_1:
    case UID_2:
        d = le(id.id[request - UID_0]);
        break;
    default:
        break;
    }
    return frame(request, d);
}

int waitFrame(FakeShieldPty& shield, const QByteArray& expected, int from, int timeoutMs)
{
    int found = -1;
    waitUntil([&] {
        for (int i = from; i < shield.frames.size(); ++i)
            if (shield.frames.at(i).bytes == expected) {
                found = i;
                return true;
            }
        return false;
    }, timeoutMs, [&] { shield.pump(); });
    return found;
}

QStringList framesFrom(FakeShieldPty& shield, int from)
{
    shield.pump();
    QStringList out;
    for (int i = from; i < shield.frames.size(); ++i)
        out << spaced(shield.frames.at(i).bytes);
    return out;
}

bool Rig::answerIdentity(const Identity& id, int timeoutMs, int from)
{
    for (uint8_t request : {VERSION, FIRMWARE, UID_0, UID_1, UID_2}) {
        const int at = waitFrame(shield, frame(request), from, timeoutMs);
        if (at < 0)
            return false;
        from = at + 1;
        shield.send(identityAnswer(request, id));
    }
    return true;
}

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

bool Rig::dial(uint8_t suffix, const QString& expectLine, uint8_t prefix)
{
    const int before = countLine(expectLine);
    shield.send(dialFrame(suffix, prefix));
    return waitUntil([&] { return countLine(expectLine) > before; }, kWait);
}

bool Rig::ring()
{
    shield.pump();
    const int from = shield.frames.size();
    return dial(12, "dial 12") && waitFrame(shield, kCallFrame, from, kWait) >= 0;
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

} // namespace e2e
