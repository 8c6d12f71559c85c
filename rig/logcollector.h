#ifndef RIG_LOGCOLLECTOR_H
#define RIG_LOGCOLLECTOR_H

// The driver's log on UDP 20004, parsed into source and message.

#include "rig/udpreceiver.h"

#include <QString>

namespace rig {

class LogCollector : public UdpReceiver
{
public:
    LogCollector() : UdpReceiver(20004) {}
    struct Line {
        QString source;
        QByteArray message;
        QByteArray raw;
    };
    QList<Line> lines();
    QList<QByteArray> messages(const QString& source);
    bool waitMessage(const QString& source, const QByteArray& message, int timeoutMs);
};

} // namespace rig

#endif
