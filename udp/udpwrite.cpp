#include "udp/udpwrite.h"

#include <QHostAddress>
#include <QUdpSocket>

UdpWrite::UdpWrite(QObject* parent, uint16_t port, Sound*)
    : QObject(parent), udpSocketWrite(new QUdpSocket()), port(port)
{
}

void UdpWrite::write(QByteArray block)
{
    udpSocketWrite->writeDatagram(block, QHostAddress(QHostAddress::LocalHost), port);
}
