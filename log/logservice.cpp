#include "log/logservice.h"
#include "log/logsenderudp.h"
#include "utils/localtimelock.h"
#include "utils/wakeup.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QThread>
#include <cstdarg>
#include <cstdio>
#include <mutex>

LogService* logService = nullptr;

namespace {
// Lines are stamped in several threads.
QByteArray timeStamp()
{
    std::lock_guard<std::mutex> lock(localTimeLock());
    return QDateTime::currentDateTime().toString("[hh:mm:ss.zzz]").toUtf8();
}
}

LogService::LogService(size_t ms)
    : QObject(nullptr), batchIntervalNs(qint64(ms) * 1000000)
{
    logSender = new LogSenderUDP(20004);
    // Started only while lines wait.
    timer = new QTimer();
    timer->setTimerType(Qt::PreciseTimer);
    timer->setSingleShot(true);
    timer->setInterval(static_cast<int>(ms));
    connect(timer, &QTimer::timeout, this, &LogService::slotTimeOut, Qt::DirectConnection);
    wakeup = new Wakeup(this, [this] { drain(); });

    sourceOn("main");
    debug("main", "test %d", 1);
    sourceOn("Controller");
    sourceOn("Uart WRITE");
    sourceOn("Uart READ");
    sourceOn("Console");
}

void LogService::debug(QString source, QByteArray massage)
{
    if (!sourceCheck(source))
        return;
    emitDebug(source, massage, false);
}

void LogService::emitDebug(const QString& source, const QByteArray& message, bool direct)
{
    auto out = [this, direct](QByteArray line) {
        if (direct)
            logSender->send(line);
        else
            send(std::move(line));
    };
    QByteArray head("[Debug]");
    head += timeStamp();
    head += " [";
    head += source.toUtf8();
    head += "]: ";
    if (head.size() + message.size() + 2 <= kMaxDatagram) {
        out(head + message + "\r\n");
        return;
    }
    // Pieces of whole hex pairs ("FF ") that never cut a UTF-8 character.
    const int room = (kMaxDatagram - head.size() - 3) / 3 * 3;
    int pos = 0;
    while (pos < message.size()) {
        int end = qMin(pos + room, message.size());
        while (end < message.size() && end > pos + 1 && (uchar(message.at(end)) & 0xC0) == 0x80)
            --end;
        QByteArray line = head + message.mid(pos, end - pos);
        if (end < message.size())
            line += kContinuationMark;
        out(line + "\r\n");
        pos = end;
    }
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
    // After the last line nothing may follow it.
    if (finished.load())
        return;
    if (const int dropped = writeBuffer.set_data_bounded(std::move(massage), kMaxLines, kMaxBytes))
        lostLines += dropped;
    wakeup->ask();
}

void LogService::finish(const QString& source, const QByteArray& message, int timeoutMs)
{
    finished = true;
    timer->stop();
    QElapsedTimer elapsed;
    elapsed.start();
    // At the drain's own pace, so a reader's socket is not overrun.
    while (writeBuffer.detect_data() && elapsed.elapsed() < timeoutMs) {
        sendBatch();
        QThread::msleep(1);
    }
    // A line still waiting, or one a thread queued as this began, would come
    // after the last line: it is counted instead.
    lostLines += writeBuffer.clear();
    if (const qint64 lost = lostLines.exchange(0))
        emitDebug("main", "Log lines lost: " + QByteArray::number(lost), true);
    if (sourceCheck(source))
        emitDebug(source, message, true);
}

void LogService::reportLost()
{
    if (lostLines.load() == 0 || writeBuffer.size() >= kMaxLines)
        return;
    debug("main", "Log lines lost: %lld", static_cast<long long>(lostLines.exchange(0)));
}

void LogService::sourceOn(QString source)
{
    sourceList.append(source);
}

bool LogService::sourceCheck(QString source)
{
    return sourceList.contains(source, Qt::CaseSensitive);
}

void LogService::sendBatch()
{
    qint64 bytes = 0;
    for (int n = 0; n < kMaxLinesPerTick && bytes < kMaxBytesPerTick && writeBuffer.detect_data(); ++n) {
        const QByteArray line = writeBuffer.get_data();
        bytes += line.size();
        logSender->send(line);
    }
}

void LogService::drain()
{
    // After the last line, or with the next batch already timed.
    if (finished.load() || timer->isActive())
        return;
    if (lastBatch.isValid() && lastBatch.nsecsElapsed() < batchIntervalNs) {
        timer->start();
        return;
    }
    lastBatch.start();
    sendBatch();
    reportLost();
    if (writeBuffer.detect_data())
        timer->start();
}

void LogService::slotTimeOut()
{
    drain();
}
