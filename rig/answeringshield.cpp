#include "rig/answeringshield.h"

#include "rig/refcrc.h"
#include "rig/shieldpty.h"

namespace rig {

QByteArray AnsweringShield::answer(const QByteArray& request)
{
    if (silent)
        return QByteArray();
    const bool link = uint8_t(request.at(3)) == 0xD1;
    const uint8_t code = uint8_t(request.at(link ? 4 : 3));
    switch (code) {
    case VERSION:
    case FIRMWARE:
    case UID_0:
    case UID_1:
    case UID_2: // the data alone: identityAnswer() pads it with FF
        return build(code, identityAnswer(code, id).mid(4, code == VERSION ? 2 : code == FIRMWARE ? 3 : 4), link);
    case PICKUP:
        if (current == Ringing)
            current = Talking;
        return build(PICKUP_DONE, QByteArray(), link);
    case DROP:
        current = Idle;
        return build(DROP, QByteArray(), link);
    case OPEN_1:
    case OPEN_2:
        return build(code, QByteArray(), link);
    case OPEN_1_FREE:
        return build(OPEN_1_FREE_DONE, QByteArray(), link);
    case OPEN_2_FREE:
        return build(OPEN_2_FREE_DONE, QByteArray(), link);
    default:
        return QByteArray();
    }
}

QByteArray AnsweringShield::ring(uint8_t suffix, uint8_t prefix)
{
    current = Ringing;
    return dialing = build(DIAL, QByteArray(1, char(suffix)) + '\0' + char(prefix) + '\0', true);
}

QByteArray AnsweringShield::hangUp()
{
    current = Idle;
    return build(DROP, QByteArray(), true);
}

bool AnsweringShield::answerIdentity(ShieldPty& line, int timeoutMs, int from, uint8_t* missing)
{
    for (uint8_t request : kIdentityRequests) {
        const int at = line.waitFrame(frame(request), from, timeoutMs);
        if (at < 0 && missing)
            *missing = request;
        if (at < 0)
            return false;
        from = at + 1;
        line.send(answer(line.frames.at(at).bytes));
    }
    return true;
}

QByteArray AnsweringShield::build(uint8_t cmd, const QByteArray& data, bool link) const
{
    if (!boardStyle)
        return frame(cmd, data, link);
    // Byte 1 is the receiver, byte 2 the sender: the board writes FF 48 65.
    const QByteArray f = hex("FF 48 65") + frame(cmd, data + QByteArray(5, '\0'), link).mid(3, 6);
    return f + char(refCrc8(f, 1, 9));
}

} // namespace rig
