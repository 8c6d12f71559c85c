#include "rig/shieldpty.h"
#include "rig/runenv.h"
#include "rig/shieldframes.h"

#include <QFile>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

namespace rig {

ShieldPty::ShieldPty()
{
    linkPath = dir.path() + "/ttyShield";
    clock.start();
    open();
}

ShieldPty::~ShieldPty()
{
    hangUp();
}

bool ShieldPty::open()
{
    hangUp();
    masterFd = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (masterFd < 0 || grantpt(masterFd) != 0 || unlockpt(masterFd) != 0)
        return false;
    const QString slave = QString::fromLocal8Bit(ptsname(masterFd));
    QFile::remove(linkPath);
    if (!QFile::link(slave, linkPath))
        return false;
    fcntl(masterFd, F_SETFL, fcntl(masterFd, F_GETFL) | O_NONBLOCK);
    return true;
}

void ShieldPty::hangUp()
{
    if (masterFd >= 0) {
        ::close(masterFd);
        masterFd = -1;
        // The pts number is recycled for other processes' ptys once the
        // driver lets go of it: leave the link dangling, never pointing there.
        QFile::remove(linkPath);
        QFile::link(dir.path() + "/hung-up", linkPath);
    }
}

bool ShieldPty::send(const QByteArray& bytes)
{
    if (masterFd < 0)
        return false;
    return ::write(masterFd, bytes.constData(), size_t(bytes.size())) == bytes.size();
}

bool ShieldPty::sendAll(const QByteArray& bytes, const std::function<void()>& pumpWhileFull, int timeoutMs)
{
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < bytes.size();) {
        if (send(bytes.mid(i, 1))) {
            ++i;
        } else {
            if (masterFd < 0 || t.elapsed() > timeoutMs)
                return false;
            if (pumpWhileFull)
                pumpWhileFull();
            spin(1);
        }
    }
    return true;
}

void ShieldPty::pump()
{
    if (masterFd < 0)
        return;
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(masterFd, buf, sizeof(buf));
        if (n <= 0)
            break;
        partial.append(buf, static_cast<int>(n));
    }
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
