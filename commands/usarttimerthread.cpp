#include "commands/usarttimerthread.h"
#include "commands/usartport.h"
#include "libzq-board-korvel-20203.h"

UsartTimerThread::UsartTimerThread(size_t ms)
    : QObject(nullptr)
{
    Q_UNUSED(ms);
    name = QString::fromUtf8(board_usart_get_port());
    port = new UsartPort(name, &writeBuffer, &readBuffer);
    // Queued: the port's thread says it, the controller hears it here.
    connect(port, SIGNAL(portLost()), this, SIGNAL(portLost()), Qt::AutoConnection);
}

void UsartTimerThread::onChunk(std::function<void()> notify)
{
    port->onChunk(std::move(notify));
}

void UsartTimerThread::start()
{
    port->start();
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
    port->stop();
}
