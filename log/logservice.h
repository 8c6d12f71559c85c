#ifndef LOGSERVICE_H
#define LOGSERVICE_H

#include "log/logline.h"
#include "log/logsenderinterface.h"
#include "utils/datatransmission.h"

#include <QElapsedTimer>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <atomic>
#include <cstddef>

// Process-wide log: lines under switched-on sources are formatted in the
// caller's thread and leave from the main thread as UDP datagrams, one line
// per datagram: a line queued while the log is idle leaves at once, a
// backlog leaves a batch per millisecond, and nothing ticks while no line
// waits. The waiting lines are bounded: past the bound the oldest are
// dropped and counted.
class Wakeup;

class LogService : public QObject
{
    Q_OBJECT
public:
    explicit LogService(size_t ms);

    void debug(QString source, QByteArray massage);
    void debug(const QString& source, const char* format, ...)
        __attribute__((format(printf, 3, 4)));
    void error(QString source, QByteArray massage);
    void send(QByteArray massage);

    // The log's last line, at exit: what is queued leaves for at most
    // timeoutMs, the rest is dropped and counted, and then this line goes
    // out as the very last datagram. Lines logged from now on, in any
    // thread, are dropped.
    void finish(const QString& source, const QByteArray& message, int timeoutMs);

    static constexpr int kMaxLines = 8192;
    static constexpr qint64 kMaxBytes = 2 * 1024 * 1024;
    // Lines sent per tick at most, so a backlog never makes a tick long.
    static constexpr int kMaxLinesPerTick = 64;
    static constexpr qint64 kMaxBytesPerTick = 64 * 1024;
    // A longer line is sent as several, each but the last ending in
    // kContinuationMark; log readers take 8 KiB datagrams whole.
    static constexpr int kMaxDatagram = 8192;
    static constexpr char kContinuationMark = LogLine::kContinuationMark;

private:
    void sourceOn(QString source);
    bool sourceCheck(QString source);
    void reportLost();
    // One debug line as its datagrams (several for a long message): queued,
    // or sent at once by finish().
    void emitDebug(const QString& source, const QByteArray& message, bool direct);
    void sendBatch();
    // A batch now, or when the last one is a millisecond old; then again
    // every millisecond while lines wait.
    void drain();

private slots:
    virtual void slotTimeOut();

private:
    LogSenderInterface* logSender;
    QTimer* timer;
    Wakeup* wakeup;
    QElapsedTimer lastBatch;
    const qint64 batchIntervalNs; // the drain period: a batch at most this often
    DataTransmission writeBuffer;
    QStringList sourceList;
    std::atomic<qint64> lostLines{0};
    std::atomic<bool> finished{false};
};

extern LogService* logService;

#endif
