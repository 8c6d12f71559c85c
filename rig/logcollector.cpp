#include "rig/logcollector.h"
#include "rig/runenv.h"

namespace rig {

QList<LogCollector::Line> LogCollector::lines()
{
    pump();
    QList<Line> out;
    for (const auto& d : datagrams) {
        Line l;
        l.raw = d.bytes;
        const int open = d.bytes.indexOf("] [");
        const int close = d.bytes.indexOf("]: ", open + 3);
        if (d.bytes.startsWith("[Debug][") && open > 0 && close > open && d.bytes.endsWith("\r\n")) {
            l.source = QString::fromUtf8(d.bytes.mid(open + 3, close - open - 3));
            l.message = d.bytes.mid(close + 3, d.bytes.size() - close - 3 - 2);
        }
        out.append(l);
    }
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

bool LogCollector::waitMessage(const QString& source, const QByteArray& message, int timeoutMs)
{
    return waitUntil([&] { return messages(source).contains(message); }, timeoutMs);
}

} // namespace rig
