#include "commands/usarttimerthread.h"
#include "libzq-board-korvel-20203.h"
#include "log/logservice.h"

#include <QDebug>
#include <climits>

namespace {
constexpr int kReopenIntervalMs = 1000;
}

UsartTimerThread::UsartTimerThread(size_t ms)
    : QObject(nullptr)
{
    serialPort = new QSerialPort(this);
    serialPort->setPortName(QString::fromUtf8(board_usart_get_port()));
    serialPort->setBaudRate(115200, QSerialPort::AllDirections);
    serialPort->setDataBits(QSerialPort::Data8);
    serialPort->setParity(QSerialPort::NoParity);
    serialPort->setStopBits(QSerialPort::OneStop);
    serialPort->setFlowControl(QSerialPort::NoFlowControl);
    connect(serialPort, SIGNAL(readyRead()), this, SLOT(read()), Qt::AutoConnection);
    connect(serialPort, SIGNAL(errorOccurred(QSerialPort::SerialPortError)),
            this, SLOT(slotError(QSerialPort::SerialPortError)), Qt::DirectConnection);

    reopenTimer = new QTimer(this);
    reopenTimer->setInterval(kReopenIntervalMs);
    connect(reopenTimer, SIGNAL(timeout()), this, SLOT(slotReopen()), Qt::DirectConnection);

    if (!openPort())
        reopenTimer->start();

    timer = new QTimer();
    timer->setTimerType(Qt::PreciseTimer);
    connect(timer, SIGNAL(timeout()), this, SLOT(slotTimeOut()), Qt::DirectConnection);
    timer->start(static_cast<int>(ms));
}

bool UsartTimerThread::openPort()
{
    if (serialPort->open(QIODevice::ReadWrite)) {
        lastOpenFailed = false;
        qDebug() << "DEBUG: USART: Успешно открыт порт";
        return true;
    }
    // Retried once a second: say it once, not every second.
    if (!lastOpenFailed)
        qDebug() << "DEBUG: USART: Ошибка открытия порта";
    lastOpenFailed = true;
    return false;
}

QByteArray UsartTimerThread::hexDump(const QByteArray& bytes)
{
    return bytes.toHex(' ').toUpper();
}

void UsartTimerThread::slotTimeOut()
{
    // Everything waiting goes out: a tick is about one frame's time on the
    // line, and the controller may answer several frames in one tick.
    while (writeBuffer.detect_data()) {
        const QByteArray frame = writeBuffer.get_data();
        logService->debug("Uart WRITE", hexDump(frame));
        // While the port is closed the frame is lost, as a failed write would be.
        if (!serialPort->isOpen())
            continue;
        if (serialPort->bytesToWrite() > kMaxWriteBacklog)
            ++droppedWrites;
        else
            serialPort->write(frame);
    }
    if (droppedWrites > 0 && (!lastWriteDropReport.isValid() || lastWriteDropReport.elapsed() >= 1000)) {
        qDebug().noquote() << QStringLiteral("ERROR: serial: %1 frames not written, the line does not take them")
                                  .arg(droppedWrites);
        droppedWrites = 0;
        lastWriteDropReport.start();
    }
}

void UsartTimerThread::read()
{
    const QByteArray got = serialPort->readAll();
    if (got.isEmpty())
        return;
    // A copy of just the bytes: readAll() hands over a buffer of about 64 KiB.
    const QByteArray chunk(got.constData(), got.size());
    logService->debug("Uart READ", hexDump(chunk));
    readBuffer.set_data_bounded(chunk, INT_MAX, kMaxReadBytes, &droppedReadBytes);
}

qint64 UsartTimerThread::takeDroppedReadBytes()
{
    const qint64 n = droppedReadBytes;
    droppedReadBytes = 0;
    return n;
}

void UsartTimerThread::close()
{
    reopenTimer->stop();
    if (serialPort->isOpen())
        serialPort->close();
}

void UsartTimerThread::slotError(QSerialPort::SerialPortError error)
{
    if (error != QSerialPort::ReadError && error != QSerialPort::ResourceError)
        return;
    // A hung-up line reports this error in a tight loop while the port stays
    // open; close it from the event loop, not inside the signal.
    if (closePending || !serialPort->isOpen())
        return;
    closePending = true;
    QMetaObject::invokeMethod(this, "slotCloseBroken", Qt::QueuedConnection);
}

void UsartTimerThread::slotCloseBroken()
{
    closePending = false;
    if (!serialPort->isOpen())
        return;
    qDebug() << "DEBUG: USART: порт закрыт после ошибки:" << serialPort->errorString();
    serialPort->close();
    serialPort->clearError();
    lastOpenFailed = false;
    reopenTimer->start();
    emit portLost();
}

void UsartTimerThread::slotReopen()
{
    if (serialPort->isOpen() || openPort())
        reopenTimer->stop();
}
