#include "txqueue.h"

#include "simio.h"

#include "rig/shieldpty.h"

TxQueue::TxQueue(rig::ShieldPty& line, QObject* parent) : QObject(parent), line(line)
{
    clock.start();
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    connect(&timer, &QTimer::timeout, this, [this] { sendDue(); });
}

void TxQueue::send(const QByteArray& bytes, const QByteArray& name, int delayMs)
{
    qint64 due = clock.elapsed() + delayMs;
    if (!queue.isEmpty())
        due = qMax(due, queue.last().due);
    queue.append({due, bytes, name});
    sendDue();
}

void TxQueue::sendDue()
{
    const qint64 now = clock.elapsed();
    while (!queue.isEmpty() && queue.first().due <= now) {
        const Pending p = queue.takeFirst();
        if (!line.send(p.bytes))
            printError(QStringLiteral("serial write failed: %1").arg(errnoText()));
        printLine("tx " + hexBytes(p.bytes) + ' ' + p.name);
    }
    if (!queue.isEmpty())
        timer.start(static_cast<int>(queue.first().due - now));
}
