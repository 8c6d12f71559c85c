#ifndef USARTTIMERTHREAD_H
#define USARTTIMERTHREAD_H

#include "utils/datatransmission.h"

#include <QObject>
#include <QSerialPort>
#include <QTimer>
#include <cstddef>

// Owns the shield's serial port (main thread): writes one queued frame per
// tick and puts every chunk read into readBuffer. A port that fails or hangs
// up is closed and opened again once a second.
class UsartTimerThread : public QObject
{
    Q_OBJECT
public:
    explicit UsartTimerThread(size_t ms);

    DataTransmission writeBuffer;
    DataTransmission readBuffer;

    static QByteArray hexDump(const QByteArray& bytes);

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
};

#endif
