#ifndef CRC_KORVEL2023_H
#define CRC_KORVEL2023_H

#include <QByteArray>
#include <cstdint>

// CRC-8/MAXIM over bytes 1 to 8 of a shield frame; byte 9 carries it.
class CRC_Korvel2023
{
public:
    static uint8_t calc_oneByte(uint8_t CRC_Value, uint8_t Data_Value);

    uint8_t calc(const QByteArray& buffer) const;
    bool comparision(const QByteArray& buffer) const;
    uint8_t calc(const unsigned char* buffer) const;
    bool comparision(const unsigned char* buffer) const;
};

#endif
