#include "sound/threadspitransmitter.h"
#include "sound/sound.h"
#include "sound/spi.h"

ThreadSpiTransmitter::ThreadSpiTransmitter(uint32_t ms, Sound* sound)
    : TimerThread(ms), spi(new SPI()), sound(sound)
{
}

void ThreadSpiTransmitter::slotTimeOut()
{
    DataTransmission& waiting = sound->dataToShieldBuffer;
    if (trimOn && trim.dropOldest(waiting.size())) {
        // Whole blocks only: the words are the parent's, never changed.
        waiting.get_data();
        ++sound->stats.trimmed;
    }
    QByteArray dataToShield;
    const bool parentBlock = waiting.detect_data();
    if (parentBlock)
        dataToShield = waiting.get_data();
    else
        dataToShield = sound->dataToShieldNull;
    countGap(parentBlock);
    // A fresh buffer per exchange, handed over whole: the previous block may
    // still be on its way to the parent in the main thread.
    QByteArray dataFromShield;
    spi->data_transfer(&dataToShield, &dataFromShield, AUDIO_BLOCK_BYTES);
    emit data_update(dataFromShield);
    sound->stats.report();
}

void ThreadSpiTransmitter::countGap(bool parentBlock)
{
    if (parentBlock) {
        if (idleRun > 0)
            sound->stats.underruns += idleRun;
        streaming = true;
        idleRun = 0;
    } else if (streaming && ++idleRun >= kGapExchanges) {
        streaming = false;
        idleRun = 0;
    }
}
