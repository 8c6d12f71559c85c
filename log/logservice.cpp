#include "log/logservice.h"
#include "log/logsenderudp.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QThread>
#include <cstdarg>
#include <cstdio>

LogService* logService = nullptr;

LogService::LogService(size_t ms)
    : QObject(nullptr)
{
    logSender = new LogSenderUDP(20004);
    timer = new QTimer();
    timer->setTimerType(Qt::PreciseTimer);
    connect(timer, SIGNAL(timeout()), this, SLOT(slotTimeOut()), Qt::DirectConnection);

    sourceOn("main");
    debug("main", "test %d", 1);
    sourceOn("Controller");
    sourceOn("Uart WRITE");
    sourceOn("Uart READ");
    sourceOn("Console");

    timer->start(static_cast<int>(ms));
}

void LogService::debug(QString source, QByteArray massage)
{
    if (!sourceCheck(source))
        return;
    QByteArray line("[Debug]");
    line += QDateTime::currentDateTime().toString("[hh:mm:ss.zzz]").toUtf8();
    line += " [";
    line += source.toUtf8();
    line += "]: ";
    line += massage;
    line += "\r\n";
    send(line);
}

void LogService::debug(const QString& source, const char* format, ...)
{
    if (!sourceCheck(source))
        return;
    char buf[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(buf, sizeof(buf), format, args);
    va_end(args);
    debug(source, QByteArray(buf));
}

void LogService::error(QString source, QByteArray massage)
{
    if (!sourceCheck(source))
        return;
    QByteArray line("[ERROR]");
    line += " [";
    line += source.toUtf8();
    line += "]: ";
    line += massage;
    send(line);
}

void LogService::send(QByteArray massage)
{
    writeBuffer.set_data(massage);
}

void LogService::flush(int timeoutMs)
{
    QElapsedTimer elapsed;
    elapsed.start();
    while (writeBuffer.detect_data() && elapsed.elapsed() < timeoutMs) {
        logSender->send(writeBuffer.get_data());
        QThread::usleep(200);
    }
}

void LogService::sourceOn(QString source)
{
    sourceList.append(source);
}

bool LogService::sourceCheck(QString source)
{
    return sourceList.contains(source, Qt::CaseSensitive);
}

void LogService::slotTimeOut()
{
    if (!writeBuffer.detect_data())
        return;
    logSender->send(writeBuffer.get_data());
}
