#ifndef SPI_H
#define SPI_H

#include <QByteArray>
#include <cstdint>

// One full-duplex block exchange with the shield through the board library.
class SPI
{
public:
    SPI() = default;
    void data_transfer(QByteArray* dataToShield, QByteArray* dataFromShield, uint16_t numb);

    static void byteArray_to_uint16(const QByteArray* dataIn, uint16_t* dataOut, uint16_t numb);
    static void uint16_to_byteArray(const uint16_t* datain, QByteArray* dataOut, uint16_t numb);
};

#endif
