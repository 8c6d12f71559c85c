#include "sound/threadspitransmitter.h"
#include "sound/sound.h"
#include "sound/spi.h"

ThreadSpiTransmitter::ThreadSpiTransmitter(uint32_t ms, Sound* sound)
    : TimerThread(ms), spi(new SPI()), sound(sound)
{
}

void ThreadSpiTransmitter::slotTimeOut()
{
    QByteArray dataToShield;
    if (sound->dataToShieldBuffer.detect_data())
        dataToShield = sound->dataToShieldBuffer.get_data();
    else
        dataToShield = sound->dataToShieldNull;
    // A fresh buffer per exchange, handed over whole: the previous block may
    // still be on its way to the parent in the main thread.
    QByteArray dataFromShield;
    spi->data_transfer(&dataToShield, &dataFromShield, AUDIO_BLOCK_BYTES);
    emit data_update(dataFromShield);
}
