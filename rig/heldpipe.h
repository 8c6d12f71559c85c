#ifndef RIG_HELDPIPE_H
#define RIG_HELDPIPE_H

#include <QByteArray>

namespace rig {

// A pipe whose write end becomes one of the driver's descriptors and whose
// read end we read only when we choose: a reader that stops.
class HeldPipe
{
public:
    HeldPipe();
    ~HeldPipe();
    HeldPipe(const HeldPipe&) = delete;
    HeldPipe& operator=(const HeldPipe&) = delete;
    int writeFd() const { return fds[1]; }
    int readFd() const { return fds[0]; }
    // Fills the pipe until it takes no more, so the next write blocks, with
    // whole lines of '~' (a reader can tell them from the driver's); returns
    // the filler written.
    QByteArray fill();
    // Everything in the pipe now (non-blocking).
    QByteArray readAvailable();
    void closeReadEnd();
    void closeWriteEnd();

private:
    int fds[2] = {-1, -1};
};

} // namespace rig

#endif
