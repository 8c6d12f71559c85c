#ifndef LINEPTY_H
#define LINEPTY_H

// The shield's serial end for the bench: the master of a pty, reached by the
// driver through a symlink. Unlike the test harness's fake shield it hands
// out its descriptor, so the bench can sleep in poll() and stamp each read
// in nanoseconds instead of looking every millisecond.

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>
#include <vector>

class LinePty
{
public:
    LinePty();
    ~LinePty();

    bool isOpen() const { return masterFd >= 0; }
    QString portPath() const { return linkPath; }
    int fd() const { return masterFd; }
    bool send(const QByteArray& bytes);

    // Reads what the driver wrote and cuts it into 10-byte frames, each
    // stamped with atNs (CLOCK_MONOTONIC), the moment the bytes were seen.
    void readAvailable(qint64 atNs);
    struct Frame {
        QByteArray bytes;
        qint64 atNs;
    };
    std::vector<Frame> frames;
    // Index of the first frame equal to `bytes` at or after `from`, or -1.
    int find(const QByteArray& bytes, int from) const;

private:
    QTemporaryDir dir;
    QString linkPath;
    int masterFd = -1;
    QByteArray partial;
};

#endif
