#ifndef RIG_SHIELDFRAMES_H
#define RIG_SHIELDFRAMES_H

// The shield's side of the serial protocol, built with the driver's codec.
// The frames the driver is expected to write are written out in hex, so a
// faulty codec cannot agree with itself.

#include <QByteArray>
#include <QString>
#include <cstdint>

namespace rig {

constexpr int kFrameBytes = 10;

// Shield codes.
enum : uint8_t {
    DIAL = 0x01,
    CALL = 0x02,
    PICKUP = 0x03,
    DROP = 0x04,
    PICKUP_DONE = 0x07,
    OPEN_1 = 0x08,
    OPEN_2 = 0x09,
    OPEN_1_FREE = 0x21,
    OPEN_1_FREE_DONE = 0x22,
    OPEN_2_FREE = 0x23,
    OPEN_2_FREE_DONE = 0x24,
    VERSION = 0xA0,
    FIRMWARE = 0xA2,
    UID_0 = 0xA3,
    UID_1 = 0xA4,
    UID_2 = 0xA5,
};

// A shield frame: command mode puts cmd in byte 3 and 5 data bytes after it;
// link mode puts D1 in byte 3, cmd in byte 4 and 4 data bytes. Short data is
// padded with FF.
QByteArray frame(uint8_t cmd, const QByteArray& data = QByteArray(), bool link = false);
// Dial data as the shield sends it: suffix, 0, prefix, 0.
inline QByteArray dialFrame(uint8_t suffix, uint8_t prefix = 0)
{
    return frame(DIAL, QByteArray(1, char(suffix)) + '\0' + char(prefix) + '\0', true);
}
inline QString spaced(const QByteArray& bytes) { return QString::fromLatin1(bytes.toHex(' ').toUpper()); } // "FF 65 48 ..."
inline QByteArray hex(const QString& spaced) { return QByteArray::fromHex(spaced.toLatin1()); } // "FF 65 48" -> bytes

// Frames the driver is expected to put on the line.
inline const QByteArray kCallFrame = hex("FF 65 48 D1 02 FF FF FF FF 7C");
inline const QByteArray kPickupFrame = hex("FF 65 48 D1 03 FF FF FF FF B1");
inline const QByteArray kDropFrame = hex("FF 65 48 D1 04 FF FF FF FF E0");
inline const QByteArray kOpen1CallFrame = hex("FF 65 48 D1 08 FF FF FF FF C1");
inline const QByteArray kOpen1Frame = hex("FF 65 48 21 FF FF FF FF FF 44");
inline const QByteArray kOpen2Frame = hex("FF 65 48 23 FF FF FF FF FF 2A");

struct Identity {
    uint8_t version = 2;
    uint8_t revision = 5;
    uint16_t firmware = 529;
    uint8_t beta = 0;
    uint32_t id[3] = {1, 0xAB, 0xC0DE};
};
QByteArray identityAnswer(uint8_t request, const Identity& id);
// The identity requests in the order the driver asks them.
constexpr uint8_t kIdentityRequests[] = {VERSION, FIRMWARE, UID_0, UID_1, UID_2};

} // namespace rig

#endif
