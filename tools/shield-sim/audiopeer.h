#ifndef SHIELD_SIM_AUDIOPEER_H
#define SHIELD_SIM_AUDIOPEER_H

// The shield's audio end: the rig's SPI peer, each message of the driver
// answered at once with one of the same length: a test tone (16 kHz, 16-bit
// signed LE mono) or the looped samples of --wav-in; --record keeps what
// the driver sent as a WAV file, its idle blocks as silence unless
// --record-raw. A new connection replaces the old one.
//
// The peer answers in a thread of its own: the driver waits only 10 ms, and
// a main thread stuck on a full stdout pipe must not cost blocks. Its lines
// reach standard output through the main thread.

#include "rig/spipeer.h"

#include <QVector>

#include <memory>

struct Options;

class AudioPeer
{
public:
    explicit AudioPeer(const Options& opts) : opts(opts) {}
    // Stops the peer's thread; the WAV file is complete afterwards.
    ~AudioPeer() { stop(); }
    void stop();

    // Main thread: everything that can fail, then the peer's thread starts.
    bool start(QString* error);
    int blockCount() { return peer ? peer->count() : 0; }
    // What --record wrote; read once stop() has returned.
    quint64 recordedBlocks() const { return recorded; }
    quint64 idleBlocksSilenced() const { return silenced; }

private:
    qint16 nextSample();
    // To the --record file, which start() created with an empty WAV header.
    void record(const QByteArray& bytes);
    void updateSizes();
    void recordFailed();

    const Options& opts;
    // The peer's thread alone uses these once it runs.
    QVector<qint16> wavSamples;
    int wavPos = 0;
    double phase = 0.0;
    int recordFd = -1;
    quint64 recordedBytes = 0;
    bool recordErrorTold = false;
    quint64 recorded = 0;
    quint64 silenced = 0;
    std::unique_ptr<rig::SpiPeer> peer;
};

#endif
