#include "rig/logcollector.h"

#include "log/logline.h"

namespace rig {

LogCollector::Line LogCollector::parse(const QByteArray& d)
{
    Line l;
    l.raw = d;
    LogLine line;
    if (d.endsWith("\r\n") && LogLine::parse(d, &line) && line.level == "Debug") {
        l.source = QString::fromUtf8(line.category);
        // A piece of a long line keeps its continuation mark, as sent.
        l.message = d.chopped(2).right(line.message.size() + int(line.continued));
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
