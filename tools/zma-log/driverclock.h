#ifndef DRIVERCLOCK_H
#define DRIVERCLOCK_H

// One clock for every line zma-log shows: the driver's wall time. The
// driver stamps its lines in its own local time and without a date; lines
// known only by when they were received (a session's parent and stdout
// lines, ERROR lines) are shown in that same zone.
//
// The driver's zone is not in the log, and the reader's own zone need not be
// it (a saved log read on another machine, or under another TZ). It is
// learned instead from each stamped line that has a receive time: a line is
// received a few milliseconds to, under a backlog, a fraction of a second
// after its stamp, so the difference between the stamp and the receive time
// in UTC, to the nearest quarter hour (every zone is a whole number of those),
// is the driver's offset. Only until the first such line does it fall back
// on the reader's zone: live, zma-log listens on 127.0.0.1, beside the driver.

#include <QByteArray>
#include <QtGlobal>
#include <cmath>

class DriverClock
{
public:
    // seconds: since the epoch. To the nearest millisecond, never cut.
    static qint64 toMs(double seconds) { return std::llround(seconds * 1000.0); }

    // A line the driver stamped `clock`, received at receivedMs: learns the
    // offset and gives the stamp's moment in ms since the epoch (its date
    // the one that puts it nearest before the receipt), or -1 for a clock
    // that is not one.
    qint64 stamped(const QByteArray& clock, qint64 receivedMs);
    // utcMs as the driver's clock showed it.
    QByteArray text(qint64 utcMs) const;
    bool knowsZone() const { return known; }

private:
    qint64 offsetMs = 0; // in [0, a day): only the time of day is shown
    bool known = false;
};

#endif
