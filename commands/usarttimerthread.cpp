#include "commands/usarttimerthread.h"
#include "commands/usartport.h"
#include "libzq-board-korvel-20203.h"

UsartTimerThread::UsartTimerThread(size_t ms)
    : QObject(nullptr)
{
    name = QString::fromUtf8(board_usart_get_port());
    port = new UsartPort(name, &writeBuffer, &readBuffer);
    // Queued: the port's thread says it, the controller hears it here.
    connect(port, SIGNAL(portLost()), this, SIGNAL(portLost()), Qt::AutoConnection);

    timer = new QTimer();
    timer->setTimerType(Qt::PreciseTimer);
    connect(timer, &QTimer::timeout, this, &UsartTimerThread::slotTimeOut, Qt::DirectConnection);
    timer->start(static_cast<int>(ms));
}

void UsartTimerThread::start()
{
    port->start();
}

void UsartTimerThread::slotTimeOut()
{
    flush();
}

void UsartTimerThread::flush()
{
    if (writeBuffer.detect_data())
        port->requestWrite();
}

qint64 UsartTimerThread::takeDroppedReadBytes()
{
    return port->takeDroppedReadBytes();
}

void UsartTimerThread::close()
{
    timer->stop();
    port->stop();
}
