#ifndef THREADSPITRANSMITTER_H
#define THREADSPITRANSMITTER_H

#include "sound/playouttrim.h"
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

    // Off: the parent's blocks wait in a plain FIFO, however far ahead the
    // parent runs (a parent that keeps its own latency). Before start().
    void setTrim(bool on) { trimOn = on; }
    // SCHED_FIFO priority asked for when the thread starts, 0 for none, so
    // the exchange keeps its 16 ms under load. Before start().
    void setRealtimePriority(int priority) { rtPriority = priority; }

    // A gap in the parent's audio shorter than this (a second) is counted
    // as underrun; a longer one is the parent pausing.
    static constexpr int kGapExchanges = 62;

signals:
    // Carries the block of this exchange, so the receiver never sees a block
    // that the next exchange is overwriting.
    void data_update(QByteArray block);

private slots:
    void slotTimeOut() override;

private:
    // In the new thread, before its first tick.
    void applyScheduling();
    // Underruns: idle blocks sent in a short gap of the parent's audio.
    void countGap(bool parentBlock);

    SPI* spi;
    Sound* sound;
    bool trimOn = true;
    int rtPriority = 0;
    PlayoutTrim trim;
    bool streaming = false;
    int idleRun = 0;
};

#endif
