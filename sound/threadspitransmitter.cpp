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
    spi->data_transfer(&dataToShield, &sound->dataFromShield, AUDIO_BLOCK_BYTES);
    emit data_update(sound->dataFromShield);
}
