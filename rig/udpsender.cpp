#include "rig/udpsender.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace rig {

UdpSender::UdpSender(quint16 port, bool nonBlocking)
    : fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | (nonBlocking ? SOCK_NONBLOCK : 0), 0)), port(port)
{
}

UdpSender::~UdpSender()
{
    if (fd >= 0)
        ::close(fd);
}

bool UdpSender::send(const QByteArray& datagram) const
{
    // Not connected: a connected socket would fail the sends after one that
    // found no listener.
    const sockaddr_in to{AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
    const auto* dest = reinterpret_cast<const sockaddr*>(&to);
    return ::sendto(fd, datagram.constData(), size_t(datagram.size()), 0, dest, sizeof to) == datagram.size();
}

} // namespace rig
