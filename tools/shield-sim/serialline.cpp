#include "serialline.h"

#include "simio.h"

#include <QFile>
#include <QSocketNotifier>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

// Unread serial bytes older than this mean nobody has the port open.
constexpr int kStaleCheckMs = 1000;

} // namespace

SerialLine::SerialLine(const QString& link, QObject* parent) : QObject(parent), link(link)
{
}

SerialLine::~SerialLine()
{
    if (!link.isEmpty()) {
        // Only our own link: a newer simulator may have taken the path.
        const QByteArray path = QFile::encodeName(link);
        char target[4096];
        const ssize_t n = ::readlink(path.constData(), target, sizeof(target) - 1);
        if (n > 0 && QByteArray(target, static_cast<int>(n)) == slaveName)
            ::unlink(path.constData());
    }
    if (masterFd >= 0)
        ::close(masterFd);
    if (slaveFd >= 0)
        ::close(slaveFd);
}

bool SerialLine::open(QString* error)
{
    masterFd = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (masterFd < 0 || ::grantpt(masterFd) != 0 || ::unlockpt(masterFd) != 0) {
        *error = QStringLiteral("pseudo-terminal: %1").arg(errnoText());
        return false;
    }
    char name[256];
    if (::ptsname_r(masterFd, name, sizeof(name)) != 0) {
        *error = QStringLiteral("ptsname: %1").arg(errnoText());
        return false;
    }
    slaveName = name;
    makeRaw(masterFd);
    // Held open for good: the line stays up while drivers come and go,
    // and it is raw before the driver opens it, so every byte value passes.
    slaveFd = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slaveFd < 0 || !makeRaw(slaveFd)) {
        *error = QStringLiteral("%1: %2").arg(QString::fromLocal8Bit(name), errnoText());
        return false;
    }
    ::fcntl(masterFd, F_SETFL, ::fcntl(masterFd, F_GETFL) | O_NONBLOCK);

    if (!link.isEmpty()) {
        const QByteArray path = QFile::encodeName(link);
        struct stat st {};
        if (::lstat(path.constData(), &st) == 0 && !S_ISLNK(st.st_mode)) {
            *error = QStringLiteral("%1 exists and is not a symlink").arg(link);
            return false;
        }
        // Made aside and renamed over: the path never points nowhere.
        const QByteArray tmp = path + ".new." + QByteArray::number(::getpid());
        ::unlink(tmp.constData());
        if (::symlink(name, tmp.constData()) != 0 || ::rename(tmp.constData(), path.constData()) != 0) {
            *error = QStringLiteral("cannot link %1: %2").arg(link, errnoText());
            ::unlink(tmp.constData());
            return false;
        }
    }
    return true;
}

QByteArray SerialLine::portPath() const
{
    return link.isEmpty() ? slaveName : QFile::encodeName(link);
}

void SerialLine::start()
{
    readNote = new QSocketNotifier(masterFd, QSocketNotifier::Read, this);
    connect(readNote, &QSocketNotifier::activated, this, [this] { readAvailable(); });

    staleTimer.setInterval(kStaleCheckMs);
    connect(&staleTimer, &QTimer::timeout, this, [this] { dropStale(); });
    staleTimer.start();
}

void SerialLine::write(const QByteArray& bytes)
{
    qint64 done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(masterFd, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            printError(QStringLiteral("serial write failed after %1 of %2 bytes: %3")
                           .arg(done).arg(bytes.size()).arg(errnoText()));
            break;
        }
        done += n;
    }
}

bool SerialLine::makeRaw(int fd)
{
    termios tio {};
    if (::tcgetattr(fd, &tio) != 0)
        return false;
    ::cfmakeraw(&tio);
    ::cfsetispeed(&tio, B115200);
    ::cfsetospeed(&tio, B115200);
    return ::tcsetattr(fd, TCSANOW, &tio) == 0;
}

void SerialLine::readAvailable()
{
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(masterFd, buf, sizeof(buf));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return; // EAGAIN; EIO cannot happen while the slave is held open
        if (onRead)
            onRead(QByteArray(buf, static_cast<int>(n)));
    }
}

// With no driver on the port, frames would pile up in the pty and reach
// the next driver long after the fact: drop what nobody read for a second.
void SerialLine::dropStale()
{
    int unread = 0;
    if (::ioctl(slaveFd, FIONREAD, &unread) != 0)
        return;
    if (unread > 0 && lastUnread > 0 && unread >= lastUnread) {
        ::tcflush(slaveFd, TCIFLUSH);
        unread = 0;
    }
    lastUnread = unread;
}
