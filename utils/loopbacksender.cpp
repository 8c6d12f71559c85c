#include "utils/loopbacksender.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
sockaddr_in loopback(uint16_t port)
{
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    return addr;
}
}

LoopbackSender::LoopbackSender(uint16_t port)
    : port(port)
{
    fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return;
    const sockaddr_in local = loopback(0);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof(local)) != 0) {
        ::close(fd);
        fd = -1;
    }
}

LoopbackSender::~LoopbackSender()
{
    if (fd >= 0)
        ::close(fd);
}

bool LoopbackSender::send(const QByteArray& datagram) const
{
    if (fd < 0)
        return false;
    const sockaddr_in to = loopback(port);
    return ::sendto(fd, datagram.constData(), static_cast<size_t>(datagram.size()), MSG_NOSIGNAL,
                    reinterpret_cast<const sockaddr*>(&to), sizeof(to)) == datagram.size();
}
