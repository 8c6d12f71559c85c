#include "audiotap.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

AudioTap::AudioTap(quint16 port)
{
    fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return;
    const int on = 1;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof(on)) != 0
        || ::bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) != 0) {
        ::close(fd);
        fd = -1;
    }
}

AudioTap::~AudioTap()
{
    if (fd >= 0)
        ::close(fd);
}

void AudioTap::readAvailable()
{
    if (fd < 0)
        return;
    char buf[65536];
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec)) + 64];
    for (;;) {
        iovec iov{buf, sizeof(buf)};
        msghdr msg{};
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        msg.msg_control = control;
        msg.msg_controllen = sizeof(control);
        const ssize_t n = ::recvmsg(fd, &msg, MSG_DONTWAIT);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            break;
        timespec now{}, mono{};
        clock_gettime(CLOCK_REALTIME, &now);
        clock_gettime(CLOCK_MONOTONIC, &mono);
        ++received;
        if (!recording)
            continue;
        Arrival a{0, qint64(now.tv_sec) * 1000000000 + now.tv_nsec, int(n), false, 0, 0};
        a.kernelNs = a.readNs;
        if (n >= 4)
            std::memcpy(&a.head, buf, sizeof(a.head));
        for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
            if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS
                && c->cmsg_len >= CMSG_LEN(sizeof(timespec))) {
                timespec ts;
                std::memcpy(&ts, CMSG_DATA(c), sizeof(ts));
                a.kernelNs = qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
                a.stamped = true;
            }
        }
        a.kernelMonoNs = a.kernelNs - a.readNs + qint64(mono.tv_sec) * 1000000000 + mono.tv_nsec;
        arrivals.push_back(a);
    }
}
