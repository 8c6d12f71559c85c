#ifndef RIG_UDPRECEIVER_H
#define RIG_UDPRECEIVER_H

// A receiver on 127.0.0.1:port standing for the parent (audio at 20002, the
// log at 20004). A large buffer, so a busy moment of ours loses nothing; the
// kernel's arrival stamps (SO_TIMESTAMPNS), so how late we get round to
// reading does not pass for the driver's jitter; and the kernel's count of
// what it dropped here for want of room (SO_RXQ_OVFL).

#include "rig/runenv.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QtEndian>
#include <functional>

namespace rig {

class UdpReceiver
{
public:
    explicit UdpReceiver(quint16 port, int bufferBytes = 4 << 20);
    ~UdpReceiver();
    Q_DISABLE_COPY(UdpReceiver)

    bool isBound() const { return fd >= 0; }
    int socketFd() const { return fd; }
    quint16 port() const { return boundPort; }
    qint64 nowMs() const { return clock.elapsed(); } // the clock of Datagram::atMs

    struct Datagram {
        QByteArray bytes;
        qint64 atMs;   // when we read it, since construction
        qint64 readNs; // when we read it, CLOCK_REALTIME (the stamps' clock)
        qint64 kernelNs; // when it reached the socket; readNs when no stamp came
        qint64 kernelMonoNs; // the same on CLOCK_MONOTONIC
        bool stamped;
        // The first four bytes (0 when shorter).
        quint32 head() const { return bytes.size() >= 4 ? qFromUnaligned<quint32>(bytes.constData()) : 0; }
    };
    // Kept while keep holds; handed to onDatagram either way; all counted.
    // Neither kept nor handed on, a datagram is only counted: no copy made.
    bool keep = true;
    std::function<void(const Datagram&)> onDatagram;
    QList<Datagram> datagrams;
    qint64 received = 0;
    qint64 kernelDrops = 0; // as of the last datagram read

    void pump();
    bool waitCount(int n, int timeoutMs)
    {
        return waitUntil([&] { return datagrams.size() >= n; }, timeoutMs, [&] { pump(); });
    }
    // Kept datagrams read in [fromMs, toMs), after a pump.
    int count(qint64 fromMs, qint64 toMs);

    // Datagrams the kernel dropped at the socket bound to this port, whoever
    // holds it (the driver's own 20003 too); -1 if unknown.
    static qint64 portDrops(quint16 port);

private:
    int fd = -1;
    const quint16 boundPort;
    QElapsedTimer clock;
};

} // namespace rig

#endif
