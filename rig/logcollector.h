#ifndef RIG_LOGCOLLECTOR_H
#define RIG_LOGCOLLECTOR_H

// The driver's log on UDP 20004, parsed into source and message.

#include "log/logline.h"
#include "rig/udpreceiver.h"

namespace rig {

class LogCollector : public UdpReceiver
{
public:
    explicit LogCollector(int bufferBytes = 4 << 20) : UdpReceiver(20004, bufferBytes) {}
    struct Line {
        QString source;
        QByteArray message;
        QByteArray raw;
    };
    // A datagram as the driver writes it, "[Debug][time] [source]: message"
    // and CR LF; source and message stay empty when it is not one.
    static Line parse(const QByteArray& datagram)
    {
        Line l{QString(), QByteArray(), datagram};
        LogLine line;
        if (datagram.endsWith("\r\n") && LogLine::parse(datagram, &line) && line.level == "Debug") {
            l.source = QString::fromUtf8(line.category);
            // A piece of a long line keeps its continuation mark, as sent.
            l.message = datagram.chopped(2).right(line.message.size() + int(line.continued));
        }
        return l;
    }
    QList<Line> lines()
    {
        pump();
        QList<Line> out;
        for (const auto& d : datagrams)
            out.append(parse(d.bytes));
        return out;
    }
    QList<QByteArray> messages(const QString& source)
    {
        QList<QByteArray> out;
        for (const auto& l : lines())
            if (l.source == source)
                out.append(l.message);
        return out;
    }
    bool waitMessage(const QString& source, const QByteArray& message, int timeoutMs)
    {
        return waitUntil([&] { return messages(source).contains(message); }, timeoutMs);
    }
};

} // namespace rig

#endif
