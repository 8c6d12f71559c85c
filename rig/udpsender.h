#ifndef RIG_UDPSENDER_H
#define RIG_UDPSENDER_H

// Datagrams to 127.0.0.1:port from a socket of our own: the parent's audio
// to the driver's 20003.

#include <QByteArray>

namespace rig {

class UdpSender
{
public:
    // nonBlocking: a datagram the socket has no room for fails at once.
    explicit UdpSender(quint16 port = 20003, bool nonBlocking = false);
    ~UdpSender();
    Q_DISABLE_COPY(UdpSender)

    bool isOpen() const { return fd >= 0; }
    // True when the kernel took it whole.
    bool send(const QByteArray& datagram) const;

private:
    int fd = -1;
    const quint16 port;
};

} // namespace rig

#endif
