#ifndef LOOPBACKSENDER_H
#define LOOPBACKSENDER_H

#include <QByteArray>
#include <cstdint>

// A send-only UDP socket bound to 127.0.0.1. Unlike a QUdpSocket it has no
// read notifier, so the main loop does not poll it on every wake-up, and it
// takes no port on any other interface.
class LoopbackSender
{
public:
    explicit LoopbackSender(uint16_t port);
    ~LoopbackSender();
    LoopbackSender(const LoopbackSender&) = delete;
    LoopbackSender& operator=(const LoopbackSender&) = delete;

    // One datagram; never blocks. False when the kernel refused it.
    bool send(const QByteArray& datagram) const;

private:
    int fd = -1;
    uint16_t port;
};

#endif
