#ifndef USARTTIMERTHREAD_H
#define USARTTIMERTHREAD_H

#include "utils/datatransmission.h"

#include <QObject>
#include <QString>
#include <cstddef>
#include <functional>

class UsartPort;

// The serial link's mailboxes (main thread side). The port itself is served
// by UsartPort in a thread of its own: flush() asks it to write what
// writeBuffer holds, and every chunk it reads lands in readBuffer. Nothing
// ticks: frames leave when they are put in, chunks are announced as they
// come.
class UsartTimerThread : public QObject
{
    Q_OBJECT
public:
    // ms: kept for the callers; frames no longer wait for a tick.
    explicit UsartTimerThread(size_t ms);

    DataTransmission writeBuffer;
    DataTransmission readBuffer;

    // Called in the port's thread after each chunk lands in readBuffer; set
    // before start().
    void onChunk(std::function<void()> notify);
    // Starts the port's thread.
    void start();
    // The serial device, as the board library names it.
    QString portName() const { return name; }
    // Frames waiting in writeBuffer go to the port now; whoever puts a frame
    // there calls it.
    void flush();
    // Received bytes dropped for the bound since the last call.
    qint64 takeDroppedReadBytes();
    // Writes what is left and closes the port for good; used when the
    // driver stops.
    void close();

signals:
    // The port was closed after an error: whatever was on the line is gone.
    void portLost();

private:
    UsartPort* port;
    QString name;
};

#endif
