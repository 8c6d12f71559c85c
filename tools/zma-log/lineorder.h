#ifndef LINEORDER_H
#define LINEORDER_H

// The order zma-log shows its lines in, so that their times never step back.
//
// A saved session puts the driver's log lines beside lines of the parent and
// of the driver's stdout by when each was received; a log line is received
// up to a fraction of a second after its stamp, so a line received at
// .798 can come before one stamped .797. The driver's own lines are in the
// order it logged them, so a stamped line is shown at once; a line known
// only by its receive time waits until a stamp at or past that time has
// come, or until later receipts show no earlier stamp can come any more.
// Lines with no time at all keep their place after the line before them.
// A line logged in pieces keeps the place of its first piece: what comes
// between its pieces waits for it.

#include <QByteArray>
#include <QVector>
#include <deque>

class LineOrder
{
public:
    struct Line {
        enum Kind { Stamped, Received, InPlace, Placeholder };
        Kind kind;
        qint64 at;       // ms since the epoch; for InPlace, the line before's
        QByteArray clock; // as the driver stamped it; empty for Received
        QByteArray rest;  // what follows the clock, line ends included
        int ticket;       // a Placeholder's, to fill it
        bool timed;       // a Placeholder's at is its stamp
    };

    // How long after its stamp a log line can still be received.
    static constexpr qint64 kLateMs = 1000;
    // Lines waiting at most; past it the first is shown regardless.
    static constexpr int kMaxWaiting = 10000;

    void addStamped(qint64 at, const QByteArray& clock, const QByteArray& rest);
    void addReceived(qint64 at, const QByteArray& rest);
    void addInPlace(const QByteArray& clock, const QByteArray& rest);
    // A place for a line whose text comes later; at: its stamp, or -1 to
    // keep its place in the order it came.
    int reserve(qint64 at);
    void fill(int ticket, const QByteArray& clock, const QByteArray& rest);

    // Takes the lines that can be shown, in order. A received line is taken
    // when a stamp at or after it has come, or when it is before
    // settledBefore; all are taken with settledBefore at its maximum.
    QVector<Line> take(qint64 settledBefore);
    // The placeholder that keeps lines waiting too long (more than
    // kMaxWaiting behind it, or one before settledBefore), or -1.
    int overdueTicket(qint64 settledBefore) const;

private:
    void insert(const Line& line);

    std::deque<Line> waiting; // by time, then by arrival
    qint64 lastAt = -1;       // the time of the line that came last
    qint64 latestStamp = -1;
    int nextTicket = 0;
};

#endif
