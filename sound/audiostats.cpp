#include "sound/audiostats.h"
#include "udp/udpread.h"

#include <QDebug>

AudioStats::Counts AudioStats::counts() const
{
    return {boundDropped.load(), trimmed.load(), underruns.load()};
}

void AudioStats::report()
{
    if (lastReport.isValid() && lastReport.elapsed() < 1000)
        return;
    const Counts now = counts();
    const QByteArray line = reportLine(now - reported, UDPread::kMaxQueuedBlocks);
    if (line.isEmpty())
        return;
    qDebug().noquote() << line;
    reported = now;
    lastReport.start();
}

QByteArray AudioStats::reportLine(const Counts& c, int maxQueued)
{
    QByteArray line;
    if (c.boundDropped > 0)
        line = "ERROR: UDP audio: dropped " + QByteArray::number(c.boundDropped) + " oldest blocks, more than "
            + QByteArray::number(maxQueued) + " were waiting";
    if (c.trimmed > 0 || c.underruns > 0) {
        line += line.isEmpty() ? "ERROR: UDP audio: " : "; ";
        line += QByteArray::number(c.trimmed) + " blocks dropped to keep the delay down, "
            + QByteArray::number(c.underruns) + " underrun blocks";
    }
    return line;
}
