#include "rig/logcollector.h"

namespace rig {

LogCollector::Line LogCollector::parse(const QByteArray& d)
{
    Line l;
    l.raw = d;
    const int open = d.indexOf("] [");
    const int close = d.indexOf("]: ", open + 3);
    if (d.startsWith("[Debug][") && open > 0 && close > open && d.endsWith("\r\n")) {
        l.source = QString::fromUtf8(d.mid(open + 3, close - open - 3));
        l.message = d.mid(close + 3, d.size() - close - 3 - 2);
    }
    return l;
}

QList<LogCollector::Line> LogCollector::lines()
{
    pump();
    QList<Line> out;
    for (const auto& d : datagrams)
        out.append(parse(d.bytes));
    return out;
}

QList<QByteArray> LogCollector::messages(const QString& source)
{
    QList<QByteArray> out;
    for (const auto& l : lines())
        if (l.source == source)
            out.append(l.message);
    return out;
}

} // namespace rig
