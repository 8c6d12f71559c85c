#include "lineorder.h"

#include <algorithm>

void LineOrder::insert(const Line& line)
{
    // After every line of the same time: those came first.
    const auto at = std::upper_bound(waiting.begin(), waiting.end(), line.at,
                                     [](qint64 t, const Line& l) { return t < l.at; });
    waiting.insert(at, line);
    lastAt = line.at;
}

void LineOrder::addStamped(qint64 at, const QByteArray& clock, const QByteArray& rest)
{
    latestStamp = qMax(latestStamp, at);
    insert({Line::Stamped, at, clock, rest, -1, true});
}

void LineOrder::addReceived(qint64 at, const QByteArray& rest)
{
    insert({Line::Received, at, QByteArray(), rest, -1, true});
}

void LineOrder::addInPlace(const QByteArray& clock, const QByteArray& rest)
{
    insert({Line::InPlace, lastAt, clock, rest, -1, false});
}

int LineOrder::reserve(qint64 at)
{
    if (at >= 0)
        latestStamp = qMax(latestStamp, at);
    insert({Line::Placeholder, at >= 0 ? at : lastAt, QByteArray(), QByteArray(), nextTicket, at >= 0});
    return nextTicket++;
}

void LineOrder::fill(int ticket, const QByteArray& clock, const QByteArray& rest)
{
    for (Line& line : waiting) {
        if (line.kind == Line::Placeholder && line.ticket == ticket) {
            line.kind = Line::InPlace;
            line.clock = clock;
            line.rest = rest;
            return;
        }
    }
}

QVector<LineOrder::Line> LineOrder::take(qint64 settledBefore)
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

int LineOrder::overdueTicket(qint64 settledBefore) const
{
    if (waiting.empty() || waiting.front().kind != Line::Placeholder)
        return -1;
    const Line& first = waiting.front();
    return int(waiting.size()) > kMaxWaiting || (first.timed && first.at < settledBefore) ? first.ticket : -1;
}
