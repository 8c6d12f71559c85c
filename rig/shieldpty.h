#ifndef RIG_SHIELDPTY_H
#define RIG_SHIELDPTY_H

// The shield's serial end: the master of a pty whose slave the driver
// reaches through a symlink of our own, which stays at the same path across
// open() and keeps the driver's lock file apart from any other process's pts
// of the same number.

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <functional>

namespace rig {

class ShieldPty
{
public:
    ShieldPty();
    ~ShieldPty();
    ShieldPty(const ShieldPty&) = delete;
    ShieldPty& operator=(const ShieldPty&) = delete;

    bool isOpen() const { return masterFd >= 0; }
    QString portPath() const { return linkPath; }
    int fd() const { return masterFd; } // to sleep in poll() on
    bool open();               // a new pty behind the same path
    void hangUp();             // closes the master: the line goes away
    bool send(const QByteArray& bytes);
    // Puts bytes on the line whole even when the pty is full (a one-byte
    // write is all or nothing), running pump while it waits; false if they
    // did not get in within timeoutMs.
    bool sendAll(const QByteArray& bytes, const std::function<void()>& pump, int timeoutMs = 30000);

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
    QTemporaryDir dir;
    QString linkPath;
    int masterFd = -1;
};

} // namespace rig

#endif
