#include "rig/spipeer.h"
#include "rig/runenv.h"

#include <QElapsedTimer>
#include <cstring>
#include <ctime>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace rig {

SpiPeer::SpiPeer(const QString& p, Mode m)
    : path(p), mode(m)
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
        if (::write(wakeFd[1], "x", 1) != 1) {
            // The pipe is new and empty: a byte always fits.
        }
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
    // A list of its own: a shared one would be detached by the next append
    // in the peer's thread while this one is released here.
    return QList<Exchange>(log.cbegin(), log.cend());
}

int SpiPeer::count()
{
    std::lock_guard<std::mutex> lock(mutex);
    return log.size();
}

int SpiPeer::unreadBytes()
{
    std::lock_guard<std::mutex> lock(mutex);
    int n = 0;
    if (peerFd < 0 || ::ioctl(peerFd, FIONREAD, &n) != 0)
        return 0;
    return n;
}

void SpiPeer::loop()
{
    QElapsedTimer clock;
    clock.start();
    quint32 seq = 0;
    char buf[65536];
    for (;;) {
        pollfd fds[3] = {{wakeFd[0], POLLIN, 0}, {listenFd, POLLIN, 0}, {peerFd, POLLIN, 0}};
        const bool reading = peerFd >= 0 && mode == Answering;
        if (::poll(fds, reading ? 3 : 2, 1000) < 0)
            continue;
        if (fds[0].revents)
            break;
        if (fds[1].revents & POLLIN) {
            const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0) {
                std::lock_guard<std::mutex> lock(mutex);
                if (peerFd >= 0)
                    ::close(peerFd);
                peerFd = fd;
            }
        }
        if (reading && (fds[2].revents & (POLLIN | POLLHUP))) {
            const ssize_t n = ::recv(peerFd, buf, sizeof(buf), 0);
            const qint64 receivedNs = monotonicNs();
            if (n <= 0) {
                std::lock_guard<std::mutex> lock(mutex);
                ::close(peerFd);
                peerFd = -1;
                continue;
            }
            const QByteArray answer = answerFor(seq++);
            const qint64 answeredNs = monotonicNs();
            (void)::send(peerFd, answer.constData(), answer.size(), MSG_NOSIGNAL);
            std::lock_guard<std::mutex> lock(mutex);
            log.append({QByteArray(buf, int(n)), answer, clock.elapsed(), receivedNs, answeredNs});
        }
    }
    std::lock_guard<std::mutex> lock(mutex);
    if (peerFd >= 0)
        ::close(peerFd);
    peerFd = -1;
}

} // namespace rig
