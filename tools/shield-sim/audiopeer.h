#ifndef SHIELD_SIM_AUDIOPEER_H
#define SHIELD_SIM_AUDIOPEER_H

// The shield's audio end: a Unix SEQPACKET socket the driver connects to.
// Every message from the peer is answered at once with one message of the
// same length: a test tone (16 kHz, 16-bit signed LE mono) or the looped
// samples of --wav-in; --record keeps what the driver sent as a WAV file.
// A new connection replaces the old one.
//
// It runs in a thread of its own: the peer waits only 10 ms for an answer,
// and a main thread stuck on a full stdout pipe must not cost blocks. Its
// lines reach standard output through the main thread.

#include "samplesource.h"
#include "wavrecorder.h"

#include <QByteArray>
#include <QObject>

#include <atomic>
#include <cstddef>

class QSocketNotifier;
struct Options;

class AudioPeer : public QObject
{
public:
    explicit AudioPeer(const Options& opts);

    // Main thread, before the thread starts: everything that can fail.
    bool prepare(QString* error);
    // Audio thread.
    void start();
    // Audio thread; the WAV file is complete afterwards. Also after a
    // failed prepare().
    void stop();

    // Any thread.
    quint64 blockCount() const { return blocks.load(); }

private:
    void acceptPeer();
    void dropPeer(bool tell);
    void readPeer();
    void answer(size_t len);

    const Options& opts;
    SampleSource source;
    WavRecorder recorder;
    int listenFd = -1;
    int peerFd = -1;
    QByteArray socketPath;
    QSocketNotifier* listenNote = nullptr;
    QSocketNotifier* peerNote = nullptr;
    std::atomic<quint64> blocks{0};
    uchar rxBuf[65536];
    uchar txBuf[65536];
};

#endif
