#include "rig/answeringshield.h"

#include "commands/commandtesk.h"
#include "rig/shieldpty.h"

#include <QMap>
#include <algorithm>

namespace rig {

QByteArray AnsweringShield::answer(const QByteArray& request)
{
    const bool link = uint8_t(request.at(3)) == 0xD1;
    const uint8_t code = uint8_t(request.at(link ? 4 : 3));
    if (silent)
        return QByteArray();
    if (std::count(std::begin(kIdentityRequests), std::end(kIdentityRequests), code)) // the data alone: build() pads it
        return build(code, identityAnswer(code, id).mid(4, code == VERSION ? 2 : code == FIRMWARE ? 3 : 4), link);
    if (code == PICKUP && current == Ringing)
        current = Talking;
    else if (code == DROP)
        current = Idle;
    // Each request the shield confirms and its confirmation.
    static const QMap<uint8_t, uint8_t> confirms = {{PICKUP, PICKUP_DONE}, {DROP, DROP}, {OPEN_1, OPEN_1}, {OPEN_2, OPEN_2},
                                                    {OPEN_1_FREE, OPEN_1_FREE_DONE}, {OPEN_2_FREE, OPEN_2_FREE_DONE}};
    return confirms.contains(code) ? build(confirms.value(code), QByteArray(), link) : QByteArray();
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
    // Byte 1 is the receiver, byte 2 the sender: the board writes FF 48 65,
    // and pads short data with 00.
    return CommandTESK(link ? MODE_LINK : MODE_CMD, 0x65, 0x48, cmd, data + QByteArray(5, '\0')).toArray();
}

} // namespace rig
