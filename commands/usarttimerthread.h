#ifndef USARTTIMERTHREAD_H
#define USARTTIMERTHREAD_H

#include "utils/datatransmission.h"

#include <QObject>
#include <QString>
#include <QTimer>
#include <cstddef>

class UsartPort;

// The serial link's mailboxes and its 1 ms write tick (main thread). The
// port itself is served by UsartPort in a thread of its own: each tick that
// finds frames in writeBuffer asks it to write them, and every chunk it
// reads lands in readBuffer.
class UsartTimerThread : public QObject
{
    Q_OBJECT
public:
    explicit UsartTimerThread(size_t ms);

    DataTransmission writeBuffer;
    DataTransmission readBuffer;

    // Starts the port's thread.
    void start();
    // The serial device, as the board library names it.
    QString portName() const { return name; }
    // Frames waiting in writeBuffer go to the port now, not at the next tick.
    void flush();
    // Received bytes dropped for the bound since the last call.
    qint64 takeDroppedReadBytes();
    // Writes what is left and closes the port for good; used when the
    // driver stops.
    void close();

signals:
    // The port was closed after an error: whatever was on the line is gone.
    void portLost();

private slots:
    virtual void slotTimeOut();

private:
    QTimer* timer;
    UsartPort* port;
    QString name;
};

#endif
