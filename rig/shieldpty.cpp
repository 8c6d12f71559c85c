#include "rig/shieldpty.h"
#include "rig/runenv.h"
#include "rig/shieldframes.h"

#include <QFile>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QTimer>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace rig {

ShieldPty::ShieldPty() : dir(std::make_unique<QTemporaryDir>())
{
    linkPath = dir->path() + "/ttyShield";
    clock.start();
    open();
}

ShieldPty::ShieldPty(const QString& link) : linkPath(link), holdSlave(true)
{
    clock.start();
}

ShieldPty::~ShieldPty()
{
    // Only our own link: a newer simulator may have taken the path.
    if (isOpen() && QFile::symLinkTarget(linkPath) == slavePath)
        QFile::remove(linkPath);
    linkPath.clear();
    hangUp();
}

bool ShieldPty::failed(const QString& what, bool sayErrno)
{
    failure = sayErrno ? what + QStringLiteral(": ") + QString::fromLocal8Bit(strerror(errno)) : what;
    return false;
}

bool ShieldPty::open()
{
    hangUp();
    char name[256];
    masterFd = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (masterFd < 0 || ::grantpt(masterFd) != 0 || ::unlockpt(masterFd) != 0
        || ::ptsname_r(masterFd, name, sizeof(name)) != 0)
        return failed(QStringLiteral("pseudo-terminal"));
    slavePath = QString::fromLocal8Bit(name);
    if (holdSlave) {
        // Held for good, and raw before the driver opens it, so every byte
        // value passes.
        termios tio {};
        slaveFd = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (slaveFd < 0 || ::tcgetattr(slaveFd, &tio) != 0)
            return failed(slavePath);
        ::cfmakeraw(&tio);
        ::cfsetspeed(&tio, B115200);
        if (::tcsetattr(slaveFd, TCSANOW, &tio) != 0)
            return failed(slavePath);
    }
    return linkPath.isEmpty() || relink(slavePath);
}

// Made aside and renamed over: the path never points nowhere.
bool ShieldPty::relink(const QString& target)
{
    const QByteArray path = QFile::encodeName(linkPath);
    const QByteArray aside = path + ".new." + QByteArray::number(::getpid());
    struct stat st {};
    if (::lstat(path.constData(), &st) == 0 && !S_ISLNK(st.st_mode))
        return failed(linkPath + QStringLiteral(" exists and is not a symlink"), false);
    ::unlink(aside.constData());
    if (::symlink(QFile::encodeName(target).constData(), aside.constData()) == 0
        && ::rename(aside.constData(), path.constData()) == 0)
        return true;
    failed(QStringLiteral("cannot link %1").arg(linkPath));
    ::unlink(aside.constData());
    return false;
}

void ShieldPty::hangUp()
{
    readNote.reset();
    staleTimer.reset();
    if (masterFd < 0)
        return;
    ::close(masterFd);
    if (slaveFd >= 0)
        ::close(slaveFd);
    masterFd = slaveFd = -1;
    // The pts number is recycled for other processes' ptys once the driver
    // lets go of it: leave the link dangling, never pointing there.
    if (!linkPath.isEmpty())
        relink(linkPath + ".hung-up");
}

bool ShieldPty::send(const QByteArray& bytes)
{
    return masterFd >= 0 && ::write(masterFd, bytes.constData(), size_t(bytes.size())) == bytes.size();
}

bool ShieldPty::sendAll(const QByteArray& bytes, const std::function<void()>& pumpWhileFull, int timeoutMs)
{
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < bytes.size(); ++i)
        while (!send(bytes.mid(i, 1))) {
            if (masterFd < 0 || t.elapsed() > timeoutMs)
                return false;
            if (pumpWhileFull)
                pumpWhileFull();
            spin(1);
        }
    return true;
}

QByteArray ShieldPty::readAvailable()
{
    QByteArray got;
    char buf[4096];
    // Up to EAGAIN, or EIO once the driver let go of a slave not held.
    for (ssize_t n; masterFd >= 0 && got.size() < 65536 && (n = ::read(masterFd, buf, sizeof(buf))) > 0;)
        got.append(buf, int(n));
    return got;
}

void ShieldPty::watch()
{
    readNote = std::make_unique<QSocketNotifier>(masterFd, QSocketNotifier::Read);
    QObject::connect(readNote.get(), &QSocketNotifier::activated, [this] {
        const QByteArray got = readAvailable();
        if (!got.isEmpty() && onRead)
            onRead(got);
    });
    if (slaveFd < 0)
        return;
    // With no driver on the port, frames would pile up in the pty and reach
    // the next driver long after the fact: drop what nobody read for a second.
    staleTimer = std::make_unique<QTimer>();
    QObject::connect(staleTimer.get(), &QTimer::timeout, [this] {
        int unread = 0;
        if (::ioctl(slaveFd, FIONREAD, &unread) != 0)
            return;
        if (unread > 0 && lastUnread > 0 && unread >= lastUnread) {
            ::tcflush(slaveFd, TCIFLUSH);
            unread = 0;
        }
        lastUnread = unread;
    });
    staleTimer->start(1000);
}

void ShieldPty::pump()
{
    for (QByteArray got; !(got = readAvailable()).isEmpty();)
        partial += got;
    const qint64 nowNs = monotonicNs();
    while (partial.size() >= kFrameBytes) {
        frames.append({partial.left(kFrameBytes), clock.elapsed(), nowNs});
        partial.remove(0, kFrameBytes);
    }
}

bool ShieldPty::waitFrames(int count, int timeoutMs)
{
    return waitUntil([&] { return frames.size() >= count; }, timeoutMs, [&] { pump(); });
}

int ShieldPty::find(const QByteArray& bytes, int from) const
{
    for (int i = qMax(0, from); i < frames.size(); ++i)
        if (frames.at(i).bytes == bytes)
            return i;
    return -1;
}

int ShieldPty::waitFrame(const QByteArray& expected, int from, int timeoutMs)
{
    int found = -1;
    waitUntil([&] { return (found = find(expected, from)) >= 0; }, timeoutMs, [&] { pump(); });
    return found;
}

QStringList ShieldPty::framesFrom(int from)
{
    pump();
    QStringList out;
    for (int i = from; i < frames.size(); ++i)
        out << spaced(frames.at(i).bytes);
    return out;
}

} // namespace rig
