#ifndef AUDIOSTATS_H
#define AUDIOSTATS_H

#include <QByteArray>
#include <QList>
#include <QElapsedTimer>
#include <QtGlobal>
#include <atomic>

// What the parent's audio lost on its way to the line. Counted in the SPI
// exchange thread; a call's share is read by the controller when the call
// ends, so the counts are atomic.
class AudioStats
{
public:
    struct Counts {
        qint64 boundDropped = 0; // oldest blocks dropped at the hard bound
        qint64 trimmed = 0;      // dropped to keep the delay down
        qint64 underruns = 0;    // idle blocks in a short gap of the parent's audio
        Counts operator-(const Counts& o) const
        {
            return {boundDropped - o.boundDropped, trimmed - o.trimmed, underruns - o.underruns};
        }
    };

    std::atomic<qint64> boundDropped{0};
    std::atomic<qint64> trimmed{0};
    std::atomic<qint64> underruns{0};
    // Datagrams of odd size the intake refused, and the size of the last.
    std::atomic<qint64> oddRefused{0};
    std::atomic<qint64> lastOddBytes{0};

    Counts counts() const;
    // In the SPI exchange thread, every exchange: once a second, one
    // diagnostic line with what came since the last one, if anything did;
    // and one for the odd-sized datagrams refused, on stderr and in the log.
    void report();
    // The diagnostic for one period's counts; empty when nothing happened.
    static QByteArray reportLine(const Counts& c, int maxQueued);
    // The diagnostic for odd-sized datagrams refused since the last one.
    static QByteArray refusedLine(qint64 count, qint64 lastBytes);

private:
    // At once for the first, then at most once a second: a parent sending
    // odd sizes hears of it before its call is lost to noise.
    void reportRefused();

    Counts reported;
    QElapsedTimer lastReport;
    qint64 refusedReported = 0;
    QElapsedTimer lastRefusedReport;
};

#endif
