#ifndef RIG_LOGCOLLECTOR_H
#define RIG_LOGCOLLECTOR_H

// The driver's log on UDP 20004, parsed into source and message.

#include "rig/runenv.h"
#include "rig/udpreceiver.h"

#include <QString>

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
    static Line parse(const QByteArray& datagram);
    QList<Line> lines();
    QList<QByteArray> messages(const QString& source);
    bool waitMessage(const QString& source, const QByteArray& message, int timeoutMs)
    {
        return waitUntil([&] { return messages(source).contains(message); }, timeoutMs);
    }
};

} // namespace rig

#endif
