#include "rig/udpreceiver.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace rig {

UdpReceiver::UdpReceiver(quint16 port, int bufferBytes)
    : boundPort(port)
{
    clock.start();
    fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return;
    const int on = 1;
    // Past the system's limit where we may (root), else up to it.
    if (::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &bufferBytes, sizeof bufferBytes) != 0)
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &bufferBytes, sizeof bufferBytes);
    ::setsockopt(fd, SOL_SOCKET, SO_RXQ_OVFL, &on, sizeof on);
    const sockaddr_in a{AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
    // Without stamps (qemu-user does not pass them on) a datagram is dated
    // when read.
    ::setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        fd = -1;
    }
}

UdpReceiver::~UdpReceiver()
{
    if (fd >= 0)
        ::close(fd);
}

void UdpReceiver::pump()
{
    if (fd < 0)
        return;
    static thread_local char buf[65536];
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec)) + CMSG_SPACE(sizeof(quint32)) + 64];
    for (;;) {
        iovec iov{buf, sizeof buf};
        msghdr msg{nullptr, 0, &iov, 1, control, sizeof control, 0};
        const ssize_t n = ::recvmsg(fd, &msg, MSG_DONTWAIT);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            break;
        const qint64 mono = monotonicNs();
        const bool look = keep || onDatagram;
        Datagram d{look ? QByteArray(buf, int(n)) : QByteArray(), clock.elapsed(), realtimeNs(), 0, 0, false};
        d.kernelNs = d.readNs;
        for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
            if (c->cmsg_level != SOL_SOCKET)
                continue;
            if (c->cmsg_type == SCM_TIMESTAMPNS && c->cmsg_len >= CMSG_LEN(sizeof(timespec))) {
                timespec ts;
                std::memcpy(&ts, CMSG_DATA(c), sizeof ts);
                d.kernelNs = qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
                d.stamped = true;
            } else if (c->cmsg_type == SO_RXQ_OVFL && c->cmsg_len >= CMSG_LEN(sizeof(quint32))) {
                quint32 dropped;
                std::memcpy(&dropped, CMSG_DATA(c), sizeof dropped);
                kernelDrops = dropped;
            }
        }
        // The two clocks' offset, read side by side.
        d.kernelMonoNs = d.kernelNs - d.readNs + mono;
        ++received;
        if (onDatagram)
            onDatagram(d);
        if (keep)
            datagrams.append(std::move(d));
    }
}

int UdpReceiver::count(qint64 fromMs, qint64 toMs)
{
    pump();
    return int(std::count_if(datagrams.cbegin(), datagrams.cend(),
                             [&](const Datagram& d) { return d.atMs >= fromMs && d.atMs < toMs; }));
}

qint64 UdpReceiver::portDrops(quint16 port)
{
    const QByteArray local = ":" + QByteArray::number(port, 16).toUpper().rightJustified(4, '0');
    for (const QByteArray& line : readFile("/proc/net/udp").split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() > 12 && fields.at(1).endsWith(local))
            return fields.last().toLongLong();
    }
    return -1;
}

} // namespace rig
