#ifndef RIG_SPIPEER_H
#define RIG_SPIPEER_H

#include <QByteArray>
#include <QList>
#include <QString>
#include <functional>
#include <mutex>
#include <thread>

namespace rig {

// The shield's SPI end as the stand-in board library reaches it: a
// SOCK_SEQPACKET listener that answers every block at once, in its own
// thread so the answer never waits for an event loop (the driver waits
// 10 ms for it). A deaf peer accepts and then never reads, so the driver's
// blocks pile up unread. A new connection replaces the old one.
//
// Each message from the stand-in is the block and then the exchange's
// 32-bit number (ZQ_BOARD_SPI in docs/protocol.md); the number is sent
// back after the answer. Hooks and exchanges() see the blocks alone.
class SpiPeer
{
public:
    enum Mode { Answering, Deaf };
    // Fixed before the thread starts; the functions run in it.
    struct Hooks {
        // The answer to a block; by default answerFor() the exchange's number.
        std::function<QByteArray(const QByteArray&)> answer;
        // A block the driver sent, once its answer is out.
        std::function<void(const QByteArray&)> received;
        // A driver connected (true), or went away or was replaced (false).
        std::function<void(bool)> connection;
        // Exchanges kept for exchanges(), 0 none; by default nine minutes of
        // them, longer than any test or bench run. Past it the oldest go, and
        // an index taken from count() no longer points into exchanges().
        int keep = 1 << 15;
    };
    explicit SpiPeer(const QString& path, Mode mode = Answering) : SpiPeer(path, mode, Hooks()) {}
    SpiPeer(const QString& path, Mode mode, Hooks hooks);
    ~SpiPeer();

    // Why it is not listening; empty when it is.
    QString error() const { return failure; }

    struct Exchange {
        QByteArray received; // what the driver sent to the line
        QByteArray answered; // what we clocked back
        qint64 atMs;
        // CLOCK_MONOTONIC, ns: when the block was read and when the answer
        // left, for latencies finer than atMs and comparable across threads.
        qint64 receivedNs = 0;
        qint64 answeredNs = 0;
    };
    QList<Exchange> exchanges(); // the last hooks.keep of them
    int count() { std::lock_guard<std::mutex> lock(mutex); return total; } // all of them
    // Bytes sent to us and not read yet (0 when not connected).
    int unreadBytes();

    // Each answer starts with a 32-bit sequence number, so every datagram to
    // the parent can be traced to exactly one exchange.
    static QByteArray answerFor(quint32 seq);
    static bool isIdle(const QByteArray& block);

private:
    void openListener();
    void loop();
    void setPeer(int fd, bool tell);
    QString path;
    Mode mode;
    const Hooks hooks;
    QString failure;
    int listenFd = -1;
    int peerFd = -1; // written by the worker under the mutex
    int wakeFd[2] = {-1, -1};
    std::thread worker;
    std::mutex mutex;
    QList<Exchange> log;
    int total = 0;
};

} // namespace rig

#endif
