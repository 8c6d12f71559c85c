#ifndef RIG_SHIELDPTY_H
#define RIG_SHIELDPTY_H

// The shield's serial end: the master of a pty. The tests' driver reaches
// the slave through a symlink of our own, which stays at the same path
// across open() and keeps the driver's lock file apart from any other
// process's pts of the same number. shield-sim's line is raw, reached
// through its --link or the slave's own path, and holds its slave open so
// the line stays up while drivers come and go.

#include <QElapsedTimer>
#include <QStringList>
#include <functional>
#include <memory>

class QSocketNotifier;
class QTemporaryDir;
class QTimer;

namespace rig {

class ShieldPty
{
public:
    // Behind a link in a directory of its own; opened already.
    ShieldPty();
    // Behind `link`, or the slave's own path when empty; raw, the slave held
    // open. Not opened yet.
    explicit ShieldPty(const QString& link);
    // Removes the link if it still points to this line.
    ~ShieldPty();
    Q_DISABLE_COPY(ShieldPty)

    bool isOpen() const { return masterFd >= 0; }
    QString portPath() const { return linkPath.isEmpty() ? slavePath : linkPath; }
    int fd() const { return masterFd; } // to sleep in poll() on
    bool open();               // a new pty behind the same path
    QString error() const { return failure; } // why open() failed
    void hangUp();             // closes the master: the line goes away
    bool send(const QByteArray& bytes);
    // Puts bytes on the line whole even when the pty is full (a one-byte
    // write is all or nothing), running pump while it waits; false if they
    // did not get in within timeoutMs.
    bool sendAll(const QByteArray& bytes, const std::function<void()>& pump, int timeoutMs = 30000);
    // What the driver wrote and nobody read yet, up to 64 KiB; never waits.
    QByteArray readAvailable();

    // From the event loop on, until hangUp(): each chunk the driver writes
    // goes to onRead and, with the slave held, what nobody took off the line
    // for a second is dropped.
    void watch();
    std::function<void(const QByteArray&)> onRead;

    // Reads what the driver wrote so far and cuts it into 10-byte frames
    // (the driver writes whole frames and nothing else does).
    void pump();
    struct Frame {
        QByteArray bytes;
        qint64 atMs; // since construction
        qint64 atNs; // CLOCK_MONOTONIC, when the bytes were read
    };
    QList<Frame> frames;
    QByteArray partial;
    QElapsedTimer clock;

    bool waitFrames(int count, int timeoutMs);
    // Index of the first frame equal to `bytes` at or after `from`, or -1.
    int find(const QByteArray& bytes, int from) const;
    // Waits for such a frame; its index or -1.
    int waitFrame(const QByteArray& expected, int from, int timeoutMs);
    // Frames from index `from` on, spaced hex.
    QStringList framesFrom(int from);

private:
    bool failed(const QString& what, bool sayErrno = true);
    bool relink(const QString& target);

    std::unique_ptr<QTemporaryDir> dir;
    QString linkPath;
    QString slavePath;
    QString failure;
    bool holdSlave = false;
    int masterFd = -1;
    int slaveFd = -1;
    std::unique_ptr<QSocketNotifier> readNote;
    std::unique_ptr<QTimer> staleTimer;
    int lastUnread = 0;
};

} // namespace rig

#endif
