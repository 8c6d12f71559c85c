#ifndef USARTTIMERTHREAD_H
#define USARTTIMERTHREAD_H

#include "utils/datatransmission.h"

#include <QElapsedTimer>
#include <QObject>
#include <QSerialPort>
#include <QTimer>
#include <cstddef>

// Owns the shield's serial port (main thread): writes the queued frames on
// each tick and puts every chunk read into readBuffer. A port that fails or
// hangs up is closed and opened again once a second.
class UsartTimerThread : public QObject
{
    Q_OBJECT
public:
    explicit UsartTimerThread(size_t ms);

    DataTransmission writeBuffer;
    DataTransmission readBuffer;

    // Bytes read but not yet taken by the controller are bounded; the oldest
    // chunks go first.
    static constexpr qint64 kMaxReadBytes = 16 * 1024;
    // Frames beyond this much unwritten output are dropped: the line is not
    // taking them, and the port would buffer them without end.
    static constexpr qint64 kMaxWriteBacklog = 4096;

    static QByteArray hexDump(const QByteArray& bytes);
    // Received bytes dropped for the bound since the last call.
    qint64 takeDroppedReadBytes();
    // Closes the port for good; used when the driver stops.
    void close();

signals:
    // The port was closed after an error: whatever was on the line is gone.
    void portLost();

private slots:
    virtual void slotTimeOut();
    void read();
    void slotError(QSerialPort::SerialPortError error);
    void slotCloseBroken();
    void slotReopen();

private:
    bool openPort();

    QTimer* timer;
    QSerialPort* serialPort;
    QTimer* reopenTimer;
    bool closePending = false;
    bool lastOpenFailed = false;
    qint64 droppedReadBytes = 0;
    qint64 droppedWrites = 0;
    QElapsedTimer lastWriteDropReport;
};

#endif
