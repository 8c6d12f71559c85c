#ifndef LOGSENDERUDP_H
#define LOGSENDERUDP_H

#include "log/logsenderinterface.h"

class LoopbackSender;

// Sends each log line as one datagram to 127.0.0.1:port.
class LogSenderUDP : public LogSenderInterface
{
public:
    explicit LogSenderUDP(int port);
    void send(QByteArray massage) const override;

private:
    LoopbackSender* udpSocketWrite; // holds the port
};

#endif
