#include "log/logsenderudp.h"

#include <QHostAddress>
#include <QUdpSocket>

LogSenderUDP::LogSenderUDP(int port)
    : udpSocketWrite(new QUdpSocket()), port(port)
{
}

void LogSenderUDP::send(QByteArray massage) const
{
    udpSocketWrite->writeDatagram(massage, QHostAddress(QStringLiteral("127.0.0.1")),
                                  static_cast<quint16>(port));
}
