#include "rig/shieldframes.h"

#include "commands/commandtesk.h"

namespace rig {

// Written out, not built: the codec must agree with them.
const QByteArray kCallFrame = hex("FF 65 48 D1 02 FF FF FF FF 7C");
const QByteArray kPickupFrame = hex("FF 65 48 D1 03 FF FF FF FF B1");
const QByteArray kDropFrame = hex("FF 65 48 D1 04 FF FF FF FF E0");
const QByteArray kOpen1CallFrame = hex("FF 65 48 D1 08 FF FF FF FF C1");
const QByteArray kOpen1Frame = hex("FF 65 48 21 FF FF FF FF FF 44");
const QByteArray kOpen2Frame = hex("FF 65 48 23 FF FF FF FF FF 2A");

QByteArray frame(uint8_t cmd, const QByteArray& data, bool link)
{
    // CommandTESK puts addrBUD first: it is the receiver.
    return CommandTESK(link ? MODE_LINK : MODE_CMD, 0x48, 0x65, cmd, data).toArray();
}

QByteArray dialFrame(uint8_t suffix, uint8_t prefix)
{
    return frame(DIAL, QByteArray(1, char(suffix)) + '\0' + char(prefix) + '\0', true);
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
