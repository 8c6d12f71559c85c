#ifndef THREADSPITRANSMITTER_H
#define THREADSPITRANSMITTER_H

#include "utils/timerthread.h"

#include <QByteArray>

class Sound;
class SPI;

// The audio clock: one 512-byte exchange with the shield per tick.
class ThreadSpiTransmitter : public TimerThread
{
    Q_OBJECT
public:
    ThreadSpiTransmitter(uint32_t ms, Sound* sound);

signals:
    // Carries the block of this exchange, so the receiver never sees a block
    // that the next exchange is overwriting.
    void data_update(QByteArray block);

private slots:
    void slotTimeOut() override;

private:
    SPI* spi;
    Sound* sound;
};

#endif
