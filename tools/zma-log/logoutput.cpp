#include "logoutput.h"

#include "log/logline.h"

#include <QFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {
// Large enough that a flood leaves in few writes, small enough to stay in cache.
constexpr int kFlushAt = 64 * 1024;

bool writeAll(int fd, QByteArray* bytes)
{
    const char* p = bytes->constData();
    qint64 left = bytes->size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, static_cast<size_t>(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN) {
                // A descriptor inherited non-blocking: wait until it takes more.
                pollfd pfd = {fd, POLLOUT, 0};
                ::poll(&pfd, 1, 1000);
                continue;
            }
            return false;
        }
        p += n;
        left -= n;
    }
    bytes->clear();
    return true;
}
}

LogOutput::~LogOutput()
{
    flush();
    if (saveFd >= 0)
        ::close(saveFd);
}

bool LogOutput::openSave(const QString& path, QString* error)
{
    saveFd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (saveFd < 0) {
        *error = QStringLiteral("cannot open %1: %2").arg(path, QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    return true;
}

void LogOutput::written()
{
    if (printed.size() >= kFlushAt || gone)
        writePrinted();
}

void LogOutput::save(double time, const QByteArray& text)
{
    if (saveFd < 0)
        return;
    saved += SavedLine::format(time, text);
    saved += '\n';
    if (saved.size() >= kFlushAt)
        writeSaved();
}

void LogOutput::flush()
{
    writePrinted();
    if (saveFd >= 0 && !saved.isEmpty())
        writeSaved();
    saved.clear();
}

void LogOutput::writePrinted()
{
    if (!printed.isEmpty() && !gone && !writeAll(STDOUT_FILENO, &printed))
        gone = true;
    printed.clear();
}

void LogOutput::writeSaved()
{
    if (writeAll(saveFd, &saved))
        return;
    saveFailure = QString::fromLocal8Bit(strerror(errno));
    ::close(saveFd);
    saveFd = -1;
    saved.clear();
}
