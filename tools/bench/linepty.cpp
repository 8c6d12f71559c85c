#include "linepty.h"

#include <QFile>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

namespace {
constexpr int kFrameBytes = 10;
}

LinePty::LinePty()
{
    linkPath = dir.path() + "/ttyShield";
    masterFd = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (masterFd < 0)
        return;
    // A symlink of our own keeps the driver's lock file apart from any other
    // process's pts of the same number.
    if (grantpt(masterFd) != 0 || unlockpt(masterFd) != 0
        || !QFile::link(QString::fromLocal8Bit(ptsname(masterFd)), linkPath)) {
        ::close(masterFd);
        masterFd = -1;
        return;
    }
    fcntl(masterFd, F_SETFL, fcntl(masterFd, F_GETFL) | O_NONBLOCK);
}

LinePty::~LinePty()
{
    if (masterFd >= 0)
        ::close(masterFd);
}

bool LinePty::send(const QByteArray& bytes)
{
    return masterFd >= 0 && ::write(masterFd, bytes.constData(), size_t(bytes.size())) == bytes.size();
}

void LinePty::readAvailable(qint64 atNs)
{
    if (masterFd < 0)
        return;
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(masterFd, buf, sizeof(buf));
        if (n <= 0)
            break;
        partial.append(buf, int(n));
    }
    // The driver writes whole frames and nothing else does.
    while (partial.size() >= kFrameBytes) {
        frames.push_back({partial.left(kFrameBytes), atNs});
        partial.remove(0, kFrameBytes);
    }
}

int LinePty::find(const QByteArray& bytes, int from) const
{
    for (int i = std::max(0, from); i < int(frames.size()); ++i)
        if (frames[size_t(i)].bytes == bytes)
            return i;
    return -1;
}
