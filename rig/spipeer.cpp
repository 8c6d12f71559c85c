#include "rig/spipeer.h"
#include "rig/runenv.h"

#include <QElapsedTimer>
#include <QFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <sys/un.h>
#include <unistd.h>
#include <utility>

namespace rig {

// The exchange number after each block, both ways.
constexpr int kNumberBytes = 4;

SpiPeer::SpiPeer(const QString& p, Mode m, Hooks h) : path(p), mode(m), hooks(std::move(h))
{
    openListener();
    if (::pipe2(wakeFd, O_CLOEXEC) != 0)
        wakeFd[0] = wakeFd[1] = -1;
    worker = std::thread([this] { loop(); });
}

void SpiPeer::openListener()
{
    const QByteArray name = QFile::encodeName(path);
    sockaddr_un addr{};
    struct stat st {};
    if (name.size() >= int(sizeof(addr.sun_path)))
        failure = QStringLiteral("socket path too long: %1").arg(path);
    else if (::lstat(name.constData(), &st) == 0 && !S_ISSOCK(st.st_mode))
        failure = QStringLiteral("%1 exists and is not a socket").arg(path);
    if (!failure.isEmpty())
        return;
    ::unlink(name.constData()); // left over from an earlier run
    listenFd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, name.constData(), size_t(name.size()));
    if (listenFd < 0 || ::bind(listenFd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0
        || ::listen(listenFd, 4) != 0) {
        failure = QStringLiteral("cannot listen on %1: %2").arg(path, QString::fromLocal8Bit(strerror(errno)));
        if (listenFd >= 0)
            ::close(listenFd);
        listenFd = -1;
    }
}

SpiPeer::~SpiPeer()
{
    if (wakeFd[1] >= 0 && ::write(wakeFd[1], "x", 1) != 1) {
        // The pipe is new and empty: a byte always fits.
    }
    worker.join();
    for (int fd : {wakeFd[0], wakeFd[1]})
        if (fd >= 0)
            ::close(fd);
    if (listenFd >= 0) {
        ::close(listenFd);
        ::unlink(QFile::encodeName(path).constData());
    }
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
    static const QByteArray idle = QByteArray("\xFF\x7F", 2).repeated(256);
    return block == idle;
}

QList<SpiPeer::Exchange> SpiPeer::exchanges()
{
    std::lock_guard<std::mutex> lock(mutex);
    // A list of its own: a shared one would be detached by the next append
    // in the peer's thread while this one is released here.
    return QList<Exchange>(log.cbegin(), log.cend());
}

int SpiPeer::unreadBytes()
{
    std::lock_guard<std::mutex> lock(mutex);
    int n = 0;
    return peerFd >= 0 && ::ioctl(peerFd, FIONREAD, &n) == 0 ? n : 0;
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
        int fd = -1;
        if ((fds[1].revents & POLLIN) && (fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC)) >= 0) {
            setPeer(fd, true);
            if (hooks.connection)
                hooks.connection(true);
            continue; // what was polled is the old peer
        }
        if (!reading || !(fds[2].revents & (POLLIN | POLLHUP | POLLERR)))
            continue;
        const ssize_t n = ::recv(peerFd, buf, sizeof(buf), MSG_DONTWAIT);
        const qint64 receivedNs = monotonicNs();
        if (n <= 0) {
            setPeer(-1, true);
            continue;
        }
        // The exchange's number goes back after the answer, as it came.
        const int blockSize = n >= kNumberBytes ? int(n) - kNumberBytes : int(n);
        const QByteArray block(buf, blockSize);
        const QByteArray answer = hooks.answer ? hooks.answer(block) : answerFor(seq++);
        const qint64 answeredNs = monotonicNs();
        iovec iov[2] = {{const_cast<char*>(answer.constData()), size_t(answer.size())},
                        {buf + blockSize, size_t(n - blockSize)}};
        msghdr msg{nullptr, 0, iov, 2, nullptr, 0, 0};
        // A late answer would be thrown away anyway: never wait.
        (void)::sendmsg(peerFd, &msg, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (hooks.received)
            hooks.received(block);
        std::lock_guard<std::mutex> lock(mutex);
        ++total;
        if (hooks.keep <= 0)
            continue;
        if (log.size() >= hooks.keep)
            log.removeFirst();
        log.append({block, answer, clock.elapsed(), receivedNs, answeredNs});
    }
    setPeer(-1, false);
}

// The driver's connection, -1 for none: a new driver replaces the old one.
void SpiPeer::setPeer(int fd, bool tell)
{
    std::unique_lock<std::mutex> lock(mutex);
    const int old = std::exchange(peerFd, fd);
    lock.unlock();
    if (old >= 0)
        ::close(old);
    if (old >= 0 && tell && hooks.connection)
        hooks.connection(false);
}

} // namespace rig
