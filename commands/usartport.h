#ifndef USARTPORT_H
#define USARTPORT_H

#include <QElapsedTimer>
#include <QObject>
#include <QSerialPort>
#include <atomic>
#include <functional>
#include <mutex>

class DataTransmission;
class QThread;
class QTimer;

// The shield's serial port, served in a thread of its own. Its loop sleeps
// until the line has bytes, a frame is to be written, the port fails or a
// reopen is due.
// Writes what writeBuffer holds when asked, puts every chunk read into
// readBuffer; a port that fails or hangs up is closed and opened again once
// a second.
class UsartPort : public QObject
{
    Q_OBJECT
public:
    // Opens the port, in the caller's thread.
    UsartPort(const QString& portName, DataTransmission* writeBuffer, DataTransmission* readBuffer);

    // Called in the port's thread after each chunk is put in readBuffer; set
    // before start().
    void onChunk(std::function<void()> notify) { chunkNotify = std::move(notify); }
    // Hands the port over to its own thread and starts that. Until then
    // nothing is read, and write requests are ignored.
    void start();
    // From the thread that calls start() and stop(): the port's thread
    // writes what writeBuffer holds. One request at most waits in its queue. Named, as the queued signal that
    // carries it is a hand-over inside Qt that ThreadSanitizer is told of.
    void requestWrite();
    // Writes what is left, gives it a moment to leave, closes the port and
    // ends the thread; used once, when the driver stops.
    void stop();
    // Received bytes dropped for the bound since the last call.
    qint64 takeDroppedReadBytes();

    // Bytes read but not yet taken by the controller are bounded; the oldest
    // chunks go first.
    static constexpr qint64 kMaxReadBytes = 16 * 1024;
    // Frames beyond this much unwritten output are dropped: the line is not
    // taking them, and the port would buffer them without end.
    static constexpr qint64 kMaxWriteBacklog = 4096;

signals:
    // The port was closed after an error: whatever was on the line is gone.
    void portLost();
    // Queued to writeWaiting() in the port's thread.
    void writeAsked();

private slots:
    void writeWaiting();
    void read();
    void slotError(QSerialPort::SerialPortError error);
    void slotCloseBroken();
    void slotReopen();
    void slotFinishing();

private:
    bool openPort();
    // What to do when the port does not open, by what went wrong.
    QString openRemedy() const;
    // Emits portLost() to the main thread: a hand-over inside Qt, named for
    // ThreadSanitizer like requestWrite().
    void handOverPortLost();

    DataTransmission* writeBuffer;
    DataTransmission* readBuffer;
    std::function<void()> chunkNotify;
    QThread* thread;
    QSerialPort* serialPort;
    const QString path; // as given: QSerialPort names a /dev port without /dev/
    QTimer* reopenTimer;
    // stop() wakes the loop under it, the thread takes it as the loop ends.
    std::mutex loopMutex;
    std::atomic<bool> writeRequested{false};
    std::atomic<qint64> droppedReadBytes{0};
    // Set by start(): before it, requests leave writeBuffer alone.
    std::atomic<bool> running{false};
    // The rest belongs to the port's thread once it runs.
    bool closePending = false;
    bool lastOpenFailed = false;
    qint64 droppedWrites = 0;
    QElapsedTimer lastWriteDropReport;
};

#endif
