#include "hub.h"

#include "rig/procsample.h"

#include <QCoreApplication>
#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace rig;

Hub::Hub()
{
    // The driver's log goes somewhere, as it would with a parent.
    logFd = boundUdp(20004);
    audio.keep = false; // kept only while a window records
}

Hub::~Hub()
{
    for (int fd : {logFd, besideFd, outFd, errFd})
        if (fd >= 0)
            ::close(fd);
}

bool Hub::serveUntil(qint64 deadlineNs, const std::function<bool()>& done)
{
    for (;;) {
        if (done && done())
            return true;
        qint64 now = monotonicNs();
        if (now >= deadlineNs)
            return false;
        // QProcess learns of its child's end in the event loop.
        if (now >= nextEvents) {
            QCoreApplication::processEvents();
            nextEvents = now + 100 * kMs;
        }
        if (everySecond && now >= nextSecond) {
            everySecond();
            nextSecond = now + kSec;
        }
        pollfd fds[6];
        int n = 0;
        auto add = [&](int fd) {
            if (fd >= 0)
                fds[n++] = {fd, POLLIN, 0};
        };
        add(audio.socketFd());
        add(logFd);
        add(besideFd);
        add(line ? line->fd() : -1);
        add(outFd);
        add(errFd);
        qint64 wait = std::min(deadlineNs, nextEvents) - now;
        if (everySecond)
            wait = std::min(wait, nextSecond - now);
        wait = std::max<qint64>(wait, 0);
        const timespec ts{time_t(wait / kSec), long(wait % kSec)};
        if (::ppoll(fds, nfds_t(n), &ts, nullptr) <= 0)
            continue;
        now = monotonicNs();
        for (int i = 0; i < n; ++i) {
            if (!fds[i].revents)
                continue;
            const int fd = fds[i].fd;
            if (fd == audio.socketFd())
                audio.pump();
            else if (fd == logFd)
                logDatagrams += drain(logFd);
            else if (fd == besideFd)
                besideDatagrams += drain(besideFd);
            else if (line && fd == line->fd())
                line->pump();
            else if (fd == outFd) {
                if (readPipe(outFd, out))
                    outAtNs = now;
            } else if (fd == errFd)
                readPipe(errFd, err);
        }
    }
}

void Hub::serveForMs(double ms)
{
    serveUntil(monotonicNs() + qint64(ms * kMs));
}

int Hub::boundUdp(quint16 port)
{
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd >= 0 && ::bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) != 0) {
        ::close(fd);
        fd = -1;
    }
    return fd;
}

qint64 Hub::drain(int fd)
{
    char buf[65536];
    qint64 n = 0;
    while (::recv(fd, buf, sizeof(buf), MSG_DONTWAIT) >= 0)
        ++n;
    return n;
}

bool Hub::readPipe(int& fd, QByteArray& to)
{
    char buf[65536];
    bool got = false;
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof(buf));
        if (n > 0) {
            to.append(buf, int(n));
            got = true;
            continue;
        }
        if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
            ::close(fd);
            fd = -1;
        }
        return got;
    }
}
