#include "sound/threadspitransmitter.h"
#include "sound/sound.h"
#include "sound/spi.h"

ThreadSpiTransmitter::ThreadSpiTransmitter(uint32_t ms, Sound* sound)
    : TimerThread(ms), spi(new SPI()), sound(sound)
{
}

void ThreadSpiTransmitter::slotTimeOut()
{
    // The parent's blocks are cut in this thread too: the depth holds
    // until this exchange takes its block.
    DataTransmission& waiting = sound->dataToShieldBuffer;
    int depth = waiting.size();
    if (trimOn && trim.dropOldest(depth)) {
        // Whole blocks only: the words are the parent's, never changed.
        waiting.get_data();
        ++sound->stats.trimmed;
        --depth;
    }
    QByteArray dataToShield;
    const bool parentBlock = depth > 0;
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
