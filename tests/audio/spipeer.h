#ifndef SPIPEER_H
#define SPIPEER_H

#include <QByteArray>
#include <QList>
#include <QString>
#include <atomic>
#include <mutex>
#include <thread>

// The shield's SPI end as the stand-in board library reaches it: a
// SOCK_SEQPACKET listener that answers every block at once, in its own
// thread so the answer never waits for the test's event loop.
class SpiPeer
{
public:
    explicit SpiPeer(const QString& path);
    ~SpiPeer();

    struct Exchange {
        QByteArray received; // what the driver sent to the line
        QByteArray answered; // what we clocked back
        qint64 atMs;
    };
    QList<Exchange> exchanges();
    int count();

    // Each answer starts with a 32-bit sequence number, so every datagram to
    // the parent can be traced to exactly one exchange.
    static QByteArray answerFor(quint32 seq);
    static bool isIdle(const QByteArray& block);

private:
    void loop();
    QString path;
    int listenFd = -1;
    int wakeFd[2] = {-1, -1};
    std::thread worker;
    std::mutex mutex;
    QList<Exchange> log;
};

#endif
