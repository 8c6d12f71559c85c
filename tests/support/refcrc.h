#ifndef TESTS_REFCRC_H
#define TESTS_REFCRC_H

// An independent CRC-8/MAXIM (reflected poly 0x8C, init 0, no final xor), so
// expected checksums do not come from the code under test.

#include <QByteArray>
#include <cstdint>

inline uint8_t refCrc8(const QByteArray& bytes, int from = 0, int to = -1)
{
    if (to < 0)
        to = bytes.size();
    uint8_t crc = 0;
    for (int i = from; i < to; ++i) {
        crc ^= static_cast<uint8_t>(bytes.at(i));
        for (int b = 0; b < 8; ++b)
            crc = (crc & 1) ? static_cast<uint8_t>((crc >> 1) ^ 0x8C) : static_cast<uint8_t>(crc >> 1);
    }
    return crc;
}

inline QByteArray hexBytes(const char* spaced)
{
    return QByteArray::fromHex(QByteArray(spaced));
}

// Nine frame bytes in hex, completed with the checksum of bytes 1..8.
inline QByteArray frameWithRefCrc(const char* nineBytesHex)
{
    QByteArray f = hexBytes(nineBytesHex);
    f.append(char(refCrc8(f, 1, 9)));
    return f;
}

#endif
