#ifndef UDPWRITE_H
#define UDPWRITE_H

#include <QByteArray>
#include <QObject>
#include <cstdint>

class LoopbackSender;
class Sound;

// Passes each block that the shield returned to the parent as one datagram.
class UdpWrite : public QObject
{
    Q_OBJECT
public:
    UdpWrite(QObject* parent, uint16_t port, Sound* sound);

public slots:
    void write(QByteArray block);

private:
    LoopbackSender* udpSocketWrite; // holds the port
};

#endif
