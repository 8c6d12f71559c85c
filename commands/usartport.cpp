#include "commands/usartport.h"
#include "log/diagnostics.h"
#include "log/logservice.h"
#include "utils/datatransmission.h"
#include "utils/localtimelock.h"

#include <QDebug>
#include <QThread>
#include <QTimer>
#include <climits>
#include <future>

namespace {
constexpr int kReopenIntervalMs = 1000;
// What the last frames get to leave when the driver stops: at 115200 baud a
// frame takes under a millisecond.
constexpr int kFinalWriteMs = 100;

QByteArray hexDump(const QByteArray& bytes)
{
    return bytes.toHex(' ').toUpper();
}

// What qDebug() prints for a text and a quoted value: the line stays as it was.
QByteArray debugText(const char* text, const QString& value)
{
    QString out;
    QDebug(&out) << text << value;
    if (out.endsWith(QLatin1Char(' ')))
        out.chop(1);
    return out.toUtf8();
}
}

UsartPort::UsartPort(const QString& portName, DataTransmission* writeBuffer, DataTransmission* readBuffer)
    : QObject(nullptr), writeBuffer(writeBuffer), readBuffer(readBuffer), path(portName)
{
    serialPort = new QSerialPort(this);
    serialPort->setPortName(portName);
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

    connect(this, SIGNAL(writeAsked()), this, SLOT(writeWaiting()), Qt::QueuedConnection);

    thread = new QThread();
    // The thread's name, as top -H and ps -L show it.
    thread->setObjectName(QStringLiteral("zma-serial"));
    // Emitted in the port's thread as its loop ends: the port closes there.
    connect(thread, SIGNAL(finished()), this, SLOT(slotFinishing()), Qt::DirectConnection);
}

void UsartPort::start()
{
    // Qt carries the port's notifiers and the timer over to the new thread.
    moveToThread(thread);
    // started() comes from the new thread once its loop's wake-up descriptor
    // exists. Requests post to that descriptor, so they wait for it; the
    // promise also shows ThreadSanitizer the order, which Qt's futex-based
    // locks would hide.
    std::promise<void> loopReady;
    const QMetaObject::Connection told = connect(
        thread, &QThread::started, thread, [&loopReady] { loopReady.set_value(); }, Qt::DirectConnection);
    thread->start(QThread::InheritPriority);
    loopReady.get_future().wait();
    disconnect(told);
    running = true;
}

bool UsartPort::openPort()
{
    bool opened = false;
    {
        // The port's lock file is dated in local time.
        std::lock_guard<std::mutex> lock(localTimeLock());
        opened = serialPort->open(QIODevice::ReadWrite);
    }
    if (opened) {
        // After a failure the log has its own line for this.
        if (lastOpenFailed)
            logService->debug("main", "Serial port: %s opened", qPrintable(path));
        Diagnostics::reportLogged(lastOpenFailed ? nullptr : "main", "DEBUG: USART: Успешно открыт порт",
                                  QStringLiteral("serial: %1 opened, 115200 8N1").arg(path).toUtf8());
        lastOpenFailed = false;
        return true;
    }
    // Retried once a second: say it once, not every second. The second line
    // names the port and the reason, also in the log, so a saved log of a
    // board whose port never opened does not pass for a silent shield.
    if (!lastOpenFailed) {
        const QString why = QStringLiteral("cannot open %1: %2; trying again every second")
                                .arg(path, serialPort->errorString());
        Diagnostics::reportLogged(nullptr, "DEBUG: USART: Ошибка открытия порта",
                                  "ERROR: serial: " + why.toUtf8() + '\n' + openRemedy().toUtf8());
        logService->debug("main", "Serial port: %s", qPrintable(why));
    }
    lastOpenFailed = true;
    return false;
}

QString UsartPort::openRemedy() const
{
    switch (serialPort->error()) {
    case QSerialPort::DeviceNotFoundError:
        return QStringLiteral("serial: %1 does not exist: check the name the board library gives "
                              "(ZQ_BOARD_SERIAL for the stand-in) and that the device is there").arg(path);
    case QSerialPort::PermissionError:
        return QStringLiteral("serial: %1 is held by another program or closed to this user: stop the other "
                              "program (its lock file is in /run/lock) or give this user read and write access "
                              "(group dialout)").arg(path);
    default:
        return QStringLiteral("serial: check that %1 is the shield's serial device and that no other program "
                              "uses it").arg(path);
    }
}

void UsartPort::requestWrite()
{
    if (!running.load() || writeRequested.exchange(true))
        return;
    emit writeAsked();
}

void UsartPort::writeWaiting()
{
    // Cleared first: a frame queued while this runs brings a new request.
    writeRequested = false;
    qint64 droppedNow = 0;
    QByteArray lastDropped;
    while (writeBuffer->detect_data()) {
        const QByteArray frame = writeBuffer->get_data();
        // A closed port or a full backlog loses the frame: the log says so
        // rather than that it was written.
        if (!serialPort->isOpen() || serialPort->bytesToWrite() > kMaxWriteBacklog) {
            ++droppedNow;
            lastDropped = frame;
            continue;
        }
        logService->debug("Uart WRITE", hexDump(frame));
        serialPort->write(frame);
    }
    if (droppedNow > 0) {
        const bool closed = !serialPort->isOpen();
        logService->debug("main", "Uart WRITE dropped: %lld frame%s, %s; the last %s", static_cast<long long>(droppedNow),
                          droppedNow == 1 ? "" : "s", closed ? "the port is closed" : "the line does not take them",
                          hexDump(lastDropped).constData());
        if (!closed)
            droppedWrites += droppedNow;
    }
    if (droppedWrites > 0 && (!lastWriteDropReport.isValid() || lastWriteDropReport.elapsed() >= 1000)) {
        qDebug().noquote() << QStringLiteral("ERROR: serial: %1 frames not written, the line does not take them")
                                  .arg(droppedWrites);
        droppedWrites = 0;
        lastWriteDropReport.start();
    }
}

void UsartPort::read()
{
    const QByteArray got = serialPort->readAll();
    if (got.isEmpty())
        return;
    // A copy of just the bytes: readAll() hands over a buffer of about 64 KiB.
    const QByteArray chunk(got.constData(), got.size());
    logService->debug("Uart READ", hexDump(chunk));
    qint64 dropped = 0;
    readBuffer->set_data_bounded(chunk, INT_MAX, kMaxReadBytes, &dropped);
    if (dropped > 0)
        droppedReadBytes += dropped;
    if (chunkNotify)
        chunkNotify();
}

qint64 UsartPort::takeDroppedReadBytes()
{
    return droppedReadBytes.exchange(0);
}

void UsartPort::stop()
{
    if (!running.exchange(false))
        return;
    {
        std::lock_guard<std::mutex> lock(loopMutex);
        thread->quit();
    }
    if (!thread->wait(2000))
        qDebug() << "ERROR: serial: the port's thread did not end";
}

void UsartPort::slotFinishing()
{
    // The thread closes its loop's wake-up descriptor after this; the mutex
    // orders that after stop()'s wake-up through it.
    { std::lock_guard<std::mutex> lock(loopMutex); }
    reopenTimer->stop();
    writeWaiting();
    if (!serialPort->isOpen())
        return;
    if (serialPort->bytesToWrite() > 0)
        serialPort->waitForBytesWritten(kFinalWriteMs);
    // Frees the port and its lock file for the next driver.
    serialPort->close();
}

void UsartPort::slotError(QSerialPort::SerialPortError error)
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

void UsartPort::slotCloseBroken()
{
    closePending = false;
    if (!serialPort->isOpen())
        return;
    const QString why = serialPort->errorString();
    Diagnostics::reportLogged(
        "main", debugText("DEBUG: USART: порт закрыт после ошибки:", why),
        QStringLiteral("ERROR: serial: %1 closed after an error (%2), as when the shield resets or its cable is "
                       "unplugged; opened again every second, a call in progress is dropped")
            .arg(path, why)
            .toUtf8());
    serialPort->close();
    serialPort->clearError();
    lastOpenFailed = false;
    reopenTimer->start();
    handOverPortLost();
}

void UsartPort::handOverPortLost()
{
    emit portLost();
}

void UsartPort::slotReopen()
{
    if (serialPort->isOpen() || openPort())
        reopenTimer->stop();
}
