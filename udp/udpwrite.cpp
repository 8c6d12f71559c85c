#include "udp/udpwrite.h"

#include "utils/loopbacksender.h"

UdpWrite::UdpWrite(QObject* parent, uint16_t port, Sound*)
    : QObject(parent), udpSocketWrite(new LoopbackSender(port))
{
}

void UdpWrite::write(QByteArray block)
{
    udpSocketWrite->send(block);
}
