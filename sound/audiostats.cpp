#include "sound/audiostats.h"
#include "udp/udpread.h"

#include <QDebug>

AudioStats::Counts AudioStats::counts() const
{
    return {boundDropped.load(), trimmed.load(), underruns.load()};
}

void AudioStats::report()
{
    // Looked at once a second, not at every exchange.
    if (lastReport.isValid() && lastReport.elapsed() < 1000)
        return;
    lastReport.start();
    const Counts now = counts();
    const QByteArray line = reportLine(now - reported, UDPread::kMaxQueuedBlocks);
    if (line.isEmpty())
        return;
    qDebug().noquote() << line;
    reported = now;
}

QByteArray AudioStats::reportLine(const Counts& c, int maxQueued)
{
    QList<QByteArray> parts;
    if (c.boundDropped > 0)
        parts << "dropped " + QByteArray::number(c.boundDropped) + " oldest blocks, more than "
                + QByteArray::number(maxQueued) + " were waiting";
    if (c.trimmed > 0)
        parts << QByteArray::number(c.trimmed) + " blocks dropped to keep the delay down";
    if (c.underruns > 0)
        parts << QByteArray::number(c.underruns) + " underrun blocks, the parent's audio came late";
    if (parts.isEmpty())
        return QByteArray();
    // Late audio alone loses nothing of the parent's: no error.
    const bool lost = c.boundDropped > 0 || c.trimmed > 0;
    return (lost ? "ERROR: UDP audio: " : "UDP audio: ") + parts.join("; ");
}
