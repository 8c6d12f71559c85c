#include "rig/shieldframes.h"

#include "commands/commandtesk.h"

namespace rig {

QByteArray frame(uint8_t cmd, const QByteArray& data, bool link)
{
    // CommandTESK puts addrBUD first: it is the receiver.
    return CommandTESK(link ? MODE_LINK : MODE_CMD, 0x48, 0x65, cmd, data).toArray();
}

QByteArray identityAnswer(uint8_t request, const Identity& id)
{
    QByteArray d;
    if (request == VERSION)
        d = QByteArray(1, char(id.version)) + char(id.revision);
    else if (request == FIRMWARE)
        d = QByteArray(1, char(id.firmware & 0xFF)) + char(id.firmware >> 8) + char(id.beta);
    else if (request >= UID_0 && request <= UID_2)
        for (int i = 0; i < 4; ++i) // little-endian
            d += char((id.id[request - UID_0] >> (8 * i)) & 0xFF);
    return frame(request, d);
}

} // namespace rig
