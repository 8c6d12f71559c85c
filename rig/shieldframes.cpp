#include "rig/shieldframes.h"
#include "rig/refcrc.h"

namespace rig {

const QByteArray kCallFrame = hex("FF 65 48 D1 02 FF FF FF FF 7C");
const QByteArray kPickupFrame = hex("FF 65 48 D1 03 FF FF FF FF B1");
const QByteArray kDropFrame = hex("FF 65 48 D1 04 FF FF FF FF E0");
const QByteArray kOpen1CallFrame = hex("FF 65 48 D1 08 FF FF FF FF C1");
const QByteArray kOpen1Frame = hex("FF 65 48 21 FF FF FF FF FF 44");
const QByteArray kOpen2Frame = hex("FF 65 48 23 FF FF FF FF FF 2A");

QByteArray frame(uint8_t cmd, const QByteArray& data, bool link)
{
    QByteArray f(kFrameBytes, char(0xFF));
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

QByteArray hex(const QString& spaced)
{
    return QByteArray::fromHex(spaced.toLatin1());
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

} // namespace rig
