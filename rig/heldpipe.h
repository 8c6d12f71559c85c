#ifndef RIG_HELDPIPE_H
#define RIG_HELDPIPE_H

#include <QByteArray>
#include <fcntl.h>
#include <unistd.h>

namespace rig {

// A pipe whose write end becomes one of the driver's descriptors and whose
// read end we read only when we choose: a reader that stops. Or the other way
// round, its read end the driver's stdin, written without an event loop.
class HeldPipe
{
public:
    // driverReads: the read end is the driver's, and its reads block.
    explicit HeldPipe(bool driverReads = false)
    {
        if (pipe2(fds, O_CLOEXEC) == 0 && !driverReads)
            fcntl(fds[0], F_SETFL, fcntl(fds[0], F_GETFL) | O_NONBLOCK);
    }
    ~HeldPipe() { closeReadEnd(); closeWriteEnd(); }
    Q_DISABLE_COPY(HeldPipe)
    int writeFd() const { return fds[1]; }
    int readFd() const { return fds[0]; }
    // Fills the pipe until it takes no more, so the next write blocks, with
    // whole lines of '~' (a reader can tell them from the driver's); returns
    // the filler written.
    QByteArray fill()
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
    // Everything in the pipe now (non-blocking).
    QByteArray readAvailable()
    {
        QByteArray out;
        char buf[65536];
        for (ssize_t n; (n = ::read(fds[0], buf, sizeof(buf))) > 0;)
            out.append(buf, static_cast<int>(n));
        return out;
    }
    void closeReadEnd() { closeEnd(0); }
    void closeWriteEnd() { closeEnd(1); }
    // A line of the filler fill() writes.
    static bool isFiller(const QByteArray& line) { return !line.isEmpty() && line.count('~') == line.size(); }

private:
    void closeEnd(int end)
    {
        if (fds[end] >= 0)
            ::close(fds[end]);
        fds[end] = -1;
    }
    int fds[2] = {-1, -1};
};

} // namespace rig

#endif
