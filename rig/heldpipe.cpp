#include "rig/heldpipe.h"

#include <fcntl.h>
#include <unistd.h>

namespace rig {

HeldPipe::HeldPipe(bool driverReads)
{
    if (pipe2(fds, O_CLOEXEC) == 0 && !driverReads)
        fcntl(fds[0], F_SETFL, fcntl(fds[0], F_GETFL) | O_NONBLOCK);
}

QByteArray HeldPipe::fill()
{
    // Non-blocking only while filling: the flag belongs to the shared end.
    const int flags = fcntl(fds[1], F_GETFL);
    fcntl(fds[1], F_SETFL, flags | O_NONBLOCK);
    // Writes of one page are all or nothing, so each line goes in whole.
    const QByteArray line = QByteArray(4095, '~') + '\n';
    QByteArray written;
    while (::write(fds[1], line.constData(), line.size()) == line.size())
        written += line;
    fcntl(fds[1], F_SETFL, flags);
    return written;
}

QByteArray HeldPipe::readAvailable()
{
    QByteArray out;
    char buf[65536];
    for (ssize_t n; (n = ::read(fds[0], buf, sizeof(buf))) > 0;)
        out.append(buf, static_cast<int>(n));
    return out;
}

void HeldPipe::closeEnd(int end)
{
    if (fds[end] >= 0)
        ::close(fds[end]);
    fds[end] = -1;
}

} // namespace rig
