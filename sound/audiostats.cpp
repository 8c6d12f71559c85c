#include "sound/audiostats.h"
#include "log/diagnostics.h"
#include "sound/audioblock.h"

AudioStats::Counts AudioStats::counts() const
{
    return {boundDropped.load(), trimmed.load(), underruns.load()};
}

void AudioStats::report()
{
    reportRefused();
    // Looked at once a second, not at every exchange.
    if (lastReport.isValid() && lastReport.elapsed() < 1000)
        return;
    lastReport.start();
    const Counts now = counts();
    const QByteArray line = reportLine(now - reported, AUDIO_MAX_QUEUED_BLOCKS);
    if (line.isEmpty())
        return;
    Diagnostics::reportLogged("main", line);
    reported = now;
}

void AudioStats::reportRefused()
{
    const qint64 refused = oddRefused.load() - refusedReported;
    if (refused == 0 || (lastRefusedReport.isValid() && lastRefusedReport.elapsed() < 1000))
        return;
    lastRefusedReport.start();
    refusedReported += refused;
    Diagnostics::reportLogged("main", refusedLine(refused, lastOddBytes.load()));
}

QByteArray AudioStats::refusedLine(qint64 count, qint64 lastBytes)
{
    const QByteArray what = count == 1
        ? "a " + QByteArray::number(lastBytes) + "-byte datagram refused"
        : QByteArray::number(count) + " datagrams of odd size refused (the last " + QByteArray::number(lastBytes)
            + " bytes)";
    return "ERROR: UDP audio: " + what + ", audio is 16-bit words: send an even number of bytes (best "
        + QByteArray::number(AUDIO_BLOCK_BYTES) + ")";
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
