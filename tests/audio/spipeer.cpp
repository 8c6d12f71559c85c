#include "spipeer.h"

#include <QElapsedTimer>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

SpiPeer::SpiPeer(const QString& p)
    : path(p)
{
    ::unlink(path.toLocal8Bit().constData());
    listenFd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.toLocal8Bit().constData(), sizeof(addr.sun_path) - 1);
    if (::bind(listenFd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 || ::listen(listenFd, 4) != 0) {
        ::close(listenFd);
        listenFd = -1;
    }
    if (::pipe(wakeFd) != 0)
        wakeFd[0] = wakeFd[1] = -1;
    worker = std::thread([this] { loop(); });
}

SpiPeer::~SpiPeer()
{
    if (wakeFd[1] >= 0)
        (void)::write(wakeFd[1], "x", 1);
    worker.join();
    for (int fd : {listenFd, wakeFd[0], wakeFd[1]})
        if (fd >= 0)
            ::close(fd);
    ::unlink(path.toLocal8Bit().constData());
}

QByteArray SpiPeer::answerFor(quint32 seq)
{
    QByteArray block(512, char(0));
    for (int i = 0; i < 512; ++i)
        block[i] = char((seq * 7 + i) & 0xFF);
    std::memcpy(block.data(), &seq, sizeof(seq));
    return block;
}

bool SpiPeer::isIdle(const QByteArray& block)
{
    if (block.size() != 512)
        return false;
    for (int i = 0; i < 512; ++i)
        if (quint8(block[i]) != (i % 2 == 0 ? 0xFF : 0x7F))
            return false;
    return true;
}

QList<SpiPeer::Exchange> SpiPeer::exchanges()
{
    std::lock_guard<std::mutex> lock(mutex);
    return log;
}

int SpiPeer::count()
{
    std::lock_guard<std::mutex> lock(mutex);
    return log.size();
}

void SpiPeer::loop()
{
    QElapsedTimer clock;
    clock.start();
    int peerFd = -1;
    quint32 seq = 0;
    char buf[65536];
    for (;;) {
        pollfd fds[3] = {{wakeFd[0], POLLIN, 0}, {listenFd, POLLIN, 0}, {peerFd, POLLIN, 0}};
        if (::poll(fds, peerFd >= 0 ? 3 : 2, 1000) < 0)
            continue;
        if (fds[0].revents)
            break;
        if (fds[1].revents & POLLIN) {
            const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0) {
                if (peerFd >= 0)
                    ::close(peerFd);
                peerFd = fd;
            }
        }
        if (peerFd >= 0 && (fds[2].revents & (POLLIN | POLLHUP))) {
            const ssize_t n = ::recv(peerFd, buf, sizeof(buf), 0);
            if (n <= 0) {
                ::close(peerFd);
                peerFd = -1;
                continue;
            }
            const QByteArray answer = answerFor(seq++);
            (void)::send(peerFd, answer.constData(), answer.size(), MSG_NOSIGNAL);
            std::lock_guard<std::mutex> lock(mutex);
            log.append({QByteArray(buf, int(n)), answer, clock.elapsed()});
        }
    }
    if (peerFd >= 0)
        ::close(peerFd);
}
