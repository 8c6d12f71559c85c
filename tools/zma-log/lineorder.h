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
//
// Text is what follows a line's clock, as the reader made it: the order
// only carries it.

#include <QByteArray>
#include <QVector>
#include <algorithm>
#include <deque>

template <typename Text>
class LineOrder
{
public:
    struct Line {
        enum Kind { Stamped, Received, InPlace, Placeholder };
        Kind kind;
        qint64 at;       // ms since the epoch; for InPlace, the line before's
        QByteArray clock; // as the driver stamped it; empty for Received
        Text text;
        int ticket;       // a Placeholder's, to fill it
        bool timed;       // a Placeholder's at is its stamp
    };

    // How long after its stamp a log line can still be received.
    static constexpr qint64 kLateMs = 1000;
    // Lines waiting at most; past it the first is shown regardless.
    static constexpr int kMaxWaiting = 10000;

    void addStamped(qint64 at, const QByteArray& clock, const Text& text)
    {
        latestStamp = qMax(latestStamp, at);
        insert({Line::Stamped, at, clock, text, -1, true});
    }
    void addReceived(qint64 at, const Text& text) { insert({Line::Received, at, QByteArray(), text, -1, true}); }
    void addInPlace(const QByteArray& clock, const Text& text) { insert({Line::InPlace, lastAt, clock, text, -1, false}); }
    // A place for a line whose text comes later; at: its stamp, or -1 to
    // keep its place in the order it came.
    int reserve(qint64 at)
    {
        if (at >= 0)
            latestStamp = qMax(latestStamp, at);
        insert({Line::Placeholder, at >= 0 ? at : lastAt, QByteArray(), Text(), nextTicket, at >= 0});
        return nextTicket++;
    }
    void fill(int ticket, const QByteArray& clock, const Text& text)
    {
        const auto it = std::find_if(waiting.begin(), waiting.end(),
                                     [ticket](const Line& l) { return l.kind == Line::Placeholder && l.ticket == ticket; });
        if (it != waiting.end())
            *it = {Line::InPlace, it->at, clock, text, ticket, it->timed};
    }

    // Takes the lines that can be shown, in order. A received line is taken
    // when a stamp at or after it has come, or when it is before
    // settledBefore; all are taken with settledBefore at its maximum.
    QVector<Line> take(qint64 settledBefore)
    {
        QVector<Line> out;
        while (!waiting.empty()) {
            const Line& first = waiting.front();
            const bool crowded = int(waiting.size()) > kMaxWaiting;
            if (first.kind == Line::Placeholder)
                break;
            if (first.kind == Line::Received && first.at > latestStamp && first.at >= settledBefore && !crowded)
                break;
            out.append(first);
            waiting.pop_front();
        }
        return out;
    }
    // The placeholder that keeps lines waiting too long (more than
    // kMaxWaiting behind it, or one before settledBefore), or -1.
    int overdueTicket(qint64 settledBefore) const
    {
        if (waiting.empty() || waiting.front().kind != Line::Placeholder)
            return -1;
        const Line& first = waiting.front();
        return int(waiting.size()) > kMaxWaiting || (first.timed && first.at < settledBefore) ? first.ticket : -1;
    }

private:
    void insert(const Line& line)
    {
        // After every line of the same time: those came first.
        const auto at = std::upper_bound(waiting.begin(), waiting.end(), line.at,
                                         [](qint64 t, const Line& l) { return t < l.at; });
        waiting.insert(at, line);
        lastAt = line.at;
    }

    std::deque<Line> waiting; // by time, then by arrival
    qint64 lastAt = -1;       // the time of the line that came last
    qint64 latestStamp = -1;
    int nextTicket = 0;
};

#endif
