#ifndef LOGINPUT_H
#define LOGINPUT_H

// Where zma-log's lines come from: the driver's UDP log, or a saved or plain
// log in a file or on stdin. Each line goes to the sink as it is read; a
// wake-up's worth of lines ends with batchDone.

#include <QByteArray>
#include <QObject>
#include <QString>
#include <functional>

class QSocketNotifier;

class LogInput : public QObject
{
    Q_OBJECT
public:
    // time: seconds since the epoch; for a file line, its saved time, or 0
    // when it has none. text: the line without its line end.
    using Sink = std::function<void(double time, const QByteArray& text)>;

    explicit LogInput(Sink sink) : sink(std::move(sink)) {}
    // Seconds since the epoch, to the microsecond: a line's receive time.
    static double now();
    ~LogInput() override;

    bool listenUdp(quint16 port, QString* error);
    // path "-": stdin.
    bool openStream(const QString& path, QString* error);

    // A file read to its end at once; not the network, a pipe or a terminal.
    bool readsRegularFile() const { return regularFile; }
    int receiveBufferBytes() const { return rcvbuf; }
    qint64 linesRead() const { return lines; }
    // Datagrams the kernel dropped for want of room in the receive buffer,
    // where the kernel tells (SO_RXQ_OVFL); -1 when it does not.
    qint64 kernelDrops() const { return drops; }

signals:
    void batchDone();
    void finished(); // end of a file or of stdin

private slots:
    void readDatagrams();
    void readStream();

private:
    void streamBytes(const char* data, qint64 size);

    Sink sink;
    int fd = -1;
    bool regularFile = false;
    QSocketNotifier* notifier = nullptr;
    static constexpr int kMaxLineBytes = 1 << 20;
    QByteArray partial; // a stream's unfinished last line
    QByteArray buffer;
    int rcvbuf = 0;
    qint64 lines = 0;
    qint64 drops = -1;
};

#endif
