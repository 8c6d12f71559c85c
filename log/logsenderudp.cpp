#include "log/logsenderudp.h"

#include "utils/loopbacksender.h"

LogSenderUDP::LogSenderUDP(int port)
    : udpSocketWrite(new LoopbackSender(static_cast<uint16_t>(port)))
{
}

void LogSenderUDP::send(QByteArray massage) const
{
    udpSocketWrite->send(massage);
}
