#include "sound/threadspitransmitter.h"
#include "sound/sound.h"
#include "sound/spi.h"
#include "log/logservice.h"
#include "utils/threadsetup.h"

#include <QDebug>
#include <cstring>

ThreadSpiTransmitter::ThreadSpiTransmitter(uint32_t ms, Sound* sound)
    : TimerThread(ms), spi(new SPI()), sound(sound)
{
    // The thread's name, as top -H and ps -L show it.
    setObjectName(QStringLiteral("zma-audio"));
    connect(this, &QThread::started, this, &ThreadSpiTransmitter::applyScheduling, Qt::DirectConnection);
}

void ThreadSpiTransmitter::applyScheduling()
{
    if (rtPriority <= 0) {
        logService->debug("main", "Audio thread: normal priority (-rt-priority 0)");
        return;
    }
    const int err = ThreadSetup::realtime(rtPriority);
    int priority = 0;
    const char* policy = ThreadSetup::policyName(&priority);
    if (err == 0) {
        logService->debug("main", "Audio thread: %s priority %d", policy, priority);
        return;
    }
    // Said once: the driver runs on, but a loaded board may cut its audio.
    const QString line = QStringLiteral(
        "WARNING: audio: real-time priority %1 refused (%2); the audio thread runs at %3 and may miss "
        "16 ms exchanges under load. Grant it with 'setcap cap_sys_nice+ep' on the driver's binary or "
        "an rtprio limit of %1 or more for its user (limits.d); -rt-priority 0 runs without it.")
                             .arg(rtPriority)
                             .arg(QString::fromLocal8Bit(strerror(err)))
                             .arg(QString::fromLatin1(policy));
    qDebug().noquote() << line;
    logService->debug("main", line.toUtf8());
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
