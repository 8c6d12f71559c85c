#include "commands/crc_korvel2023.h"

uint8_t CRC_Korvel2023::calc_oneByte(uint8_t CRC_Value, uint8_t Data_Value)
{
    for (int i = 0; i < 8; ++i) {
        const uint8_t feedback = (CRC_Value ^ Data_Value) & 0x01;
        if (feedback)
            CRC_Value ^= 0x18;
        CRC_Value = static_cast<uint8_t>((CRC_Value >> 1) | (feedback ? 0x80 : 0x00));
        Data_Value >>= 1;
    }
    return CRC_Value;
}

uint8_t CRC_Korvel2023::calc(const QByteArray& buffer) const
{
    uint8_t crc = 0;
    for (int i = 1; i <= 8; ++i) {
        const uint8_t byte = i < buffer.size() ? static_cast<uint8_t>(buffer.at(i)) : 0x00;
        crc = calc_oneByte(crc, byte);
    }
    return crc;
}

bool CRC_Korvel2023::comparision(const QByteArray& buffer) const
{
    const uint8_t stored = buffer.size() > 9 ? static_cast<uint8_t>(buffer.at(9)) : 0x00;
    return calc(buffer) == stored;
}

uint8_t CRC_Korvel2023::calc(const unsigned char* buffer) const
{
    uint8_t crc = 0;
    for (int i = 1; i <= 8; ++i)
        crc = calc_oneByte(crc, buffer[i]);
    return crc;
}

bool CRC_Korvel2023::comparision(const unsigned char* buffer) const
{
    return calc(buffer) == buffer[9];
}
