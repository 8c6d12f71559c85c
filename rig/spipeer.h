#ifndef RIG_SPIPEER_H
#define RIG_SPIPEER_H

#include <QByteArray>
#include <QList>
#include <QString>
#include <atomic>
#include <mutex>
#include <thread>

namespace rig {

// The shield's SPI end as the stand-in board library reaches it: a
// SOCK_SEQPACKET listener that answers every block at once, in its own
// thread so the answer never waits for the test's event loop. A deaf peer
// accepts and then never reads, so the driver's blocks pile up unread.
class SpiPeer
{
public:
    enum Mode { Answering, Deaf };
    explicit SpiPeer(const QString& path, Mode mode = Answering);
    ~SpiPeer();

    struct Exchange {
        QByteArray received; // what the driver sent to the line
        QByteArray answered; // what we clocked back
        qint64 atMs;
        // CLOCK_MONOTONIC, ns: when the block was read and when the answer
        // left, for latencies finer than atMs and comparable across threads.
        qint64 receivedNs = 0;
        qint64 answeredNs = 0;
    };
    QList<Exchange> exchanges();
    int count();
    // Bytes sent to us and not read yet (0 when not connected).
    int unreadBytes();

    // Each answer starts with a 32-bit sequence number, so every datagram to
    // the parent can be traced to exactly one exchange.
    static QByteArray answerFor(quint32 seq);
    static bool isIdle(const QByteArray& block);

private:
    void loop();
    QString path;
    Mode mode;
    int listenFd = -1;
    int peerFd = -1; // written by the worker under the mutex
    int wakeFd[2] = {-1, -1};
    std::thread worker;
    std::mutex mutex;
    QList<Exchange> log;
};

} // namespace rig

#endif
