#include "sound/spi.h"
#include "libzq-board-korvel-20203.h"

#include <vector>

void SPI::data_transfer(QByteArray* dataToShield, QByteArray* dataFromShield, uint16_t numb)
{
    const uint16_t words = numb / 2;
    std::vector<uint16_t> dataTrnToShieldUint(words);
    std::vector<uint16_t> dataTrnFromShieldUint(words);
    byteArray_to_uint16(dataToShield, dataTrnToShieldUint.data(), words);

    // Little-endian words: the library sees the block's bytes in block order.
    std::vector<uint8_t> tx(numb), rx(numb);
    for (uint16_t i = 0; i < words; ++i) {
        tx[2 * i] = static_cast<uint8_t>(dataTrnToShieldUint[i] & 0xFF);
        tx[2 * i + 1] = static_cast<uint8_t>(dataTrnToShieldUint[i] >> 8);
    }
    board_spi_set_cs(0);
    board_spi_transfer(tx.data(), rx.data(), numb);
    board_spi_set_cs(1);
    for (uint16_t i = 0; i < words; ++i)
        dataTrnFromShieldUint[i] = static_cast<uint16_t>(rx[2 * i] | (rx[2 * i + 1] << 8));

    uint16_to_byteArray(dataTrnFromShieldUint.data(), dataFromShield, words);
}

void SPI::byteArray_to_uint16(const QByteArray* dataIn, uint16_t* dataOut, uint16_t numb)
{
    for (uint16_t i = 0; i < numb; ++i) {
        const int lo = 2 * i, hi = 2 * i + 1;
        const uint8_t low = lo < dataIn->size() ? static_cast<uint8_t>(dataIn->at(lo)) : 0;
        const uint8_t high = hi < dataIn->size() ? static_cast<uint8_t>(dataIn->at(hi)) : 0;
        dataOut[i] = static_cast<uint16_t>(low | (high << 8));
    }
}

void SPI::uint16_to_byteArray(const uint16_t* datain, QByteArray* dataOut, uint16_t numb)
{
    if (dataOut->size() < 2 * numb)
        dataOut->resize(2 * numb);
    for (uint16_t i = 0; i < numb; ++i) {
        (*dataOut)[2 * i + 1] = char(datain[i] >> 8);
        (*dataOut)[2 * i] = char(datain[i] & 0xFF);
    }
}
