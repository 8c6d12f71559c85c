#include "rig/shieldframes.h"
#include "rig/refcrc.h"

namespace rig {

const QByteArray kCallFrame = frame(CALL, QByteArray(), true);
const QByteArray kPickupFrame = frame(PICKUP, QByteArray(), true);
const QByteArray kDropFrame = frame(DROP, QByteArray(), true);
const QByteArray kOpen1CallFrame = frame(OPEN_1, QByteArray(), true);
const QByteArray kOpen1Frame = frame(OPEN_1_FREE);
const QByteArray kOpen2Frame = frame(OPEN_2_FREE);

QByteArray frame(uint8_t cmd, const QByteArray& data, bool link)
{
    // The head, the code and the data, cut or padded with FF to nine bytes.
    const QByteArray f = (hex(link ? "FF 65 48 D1" : "FF 65 48") + char(cmd) + data).left(9).leftJustified(9, char(0xFF));
    return f + char(refCrc8(f, 1, 9));
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
