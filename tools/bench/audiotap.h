#ifndef AUDIOTAP_H
#define AUDIOTAP_H

// The parent's end of the audio (UDP on 127.0.0.1): every datagram carries
// the kernel's arrival stamp (SO_TIMESTAMPNS), so how late the bench gets
// round to reading it does not pass for the sender's jitter.

#include <QtGlobal>
#include <vector>

class AudioTap
{
public:
    explicit AudioTap(quint16 port);
    ~AudioTap();
    AudioTap(const AudioTap&) = delete;
    AudioTap& operator=(const AudioTap&) = delete;

    bool isBound() const { return fd >= 0; }
    int socketFd() const { return fd; }

    // Both stamps are CLOCK_REALTIME, the clock of SO_TIMESTAMPNS.
    struct Arrival {
        qint64 kernelNs; // when the datagram reached the socket
        qint64 readNs;   // when the bench read it
        int size;
        bool stamped;    // false: no stamp came, kernelNs is readNs
        // kernelNs on CLOCK_MONOTONIC, the clock of the bench's other
        // stamps: shifted by the two clocks' offset read beside readNs.
        qint64 kernelMonoNs;
        quint32 head; // the datagram's first four bytes (0 when shorter)
    };
    // Arrivals are kept only while recording; all are counted.
    bool recording = false;
    std::vector<Arrival> arrivals;
    qint64 received = 0;

    void readAvailable();

private:
    int fd = -1;
};

#endif
