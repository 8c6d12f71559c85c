#ifndef RIG_HELDPIPE_H
#define RIG_HELDPIPE_H

#include <QByteArray>

namespace rig {

// A pipe whose write end becomes one of the driver's descriptors and whose
// read end we read only when we choose: a reader that stops. Or the other way
// round, its read end the driver's stdin, written without an event loop.
class HeldPipe
{
public:
    // driverReads: the read end is the driver's, and its reads block.
    explicit HeldPipe(bool driverReads = false);
    ~HeldPipe() { closeReadEnd(); closeWriteEnd(); }
    Q_DISABLE_COPY(HeldPipe)
    int writeFd() const { return fds[1]; }
    int readFd() const { return fds[0]; }
    // Fills the pipe until it takes no more, so the next write blocks, with
    // whole lines of '~' (a reader can tell them from the driver's); returns
    // the filler written.
    QByteArray fill();
    // Everything in the pipe now (non-blocking).
    QByteArray readAvailable();
    void closeReadEnd() { closeEnd(0); }
    void closeWriteEnd() { closeEnd(1); }
    // A line of the filler fill() writes.
    static bool isFiller(const QByteArray& line) { return !line.isEmpty() && line.count('~') == line.size(); }

private:
    void closeEnd(int end);
    int fds[2] = {-1, -1};
};

} // namespace rig

#endif
