#ifndef RIG_UDPSENDER_H
#define RIG_UDPSENDER_H

// Datagrams to 127.0.0.1:port from a socket of our own: the parent's audio
// to the driver's 20003.

#include <QByteArray>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace rig {

class UdpSender
{
public:
    // nonBlocking: a datagram the socket has no room for fails at once.
    explicit UdpSender(quint16 port = 20003, bool nonBlocking = false)
        : fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | (nonBlocking ? SOCK_NONBLOCK : 0), 0)), port(port) {}
    ~UdpSender()
    {
        if (fd >= 0)
            ::close(fd);
    }
    Q_DISABLE_COPY(UdpSender)

    bool isOpen() const { return fd >= 0; }
    // True when the kernel took it whole.
    bool send(const QByteArray& datagram) const
    {
        // Not connected: a connected socket would fail the sends after one
        // that found no listener.
        const sockaddr_in to{AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
        const auto* dest = reinterpret_cast<const sockaddr*>(&to);
        return ::sendto(fd, datagram.constData(), size_t(datagram.size()), 0, dest, sizeof to) == datagram.size();
    }

private:
    int fd = -1;
    const quint16 port;
};

} // namespace rig

#endif
