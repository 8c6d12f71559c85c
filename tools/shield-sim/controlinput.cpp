#include "controlinput.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

ControlInput::ControlInput(bool stay, QObject* parent) : QObject(parent), stay(stay)
{
}

void ControlInput::start()
{
    note = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
    connect(note, &QSocketNotifier::activated, this, [this] { readInput(); });
}

void ControlInput::readInput()
{
    char buf[4096];
    const ssize_t n = ::read(STDIN_FILENO, buf, sizeof(buf));
    if (n < 0 && (errno == EINTR || errno == EAGAIN))
        return;
    if (n > 0) {
        pending.append(buf, static_cast<int>(n));
        int nl;
        while ((nl = pending.indexOf('\n')) >= 0) {
            const QByteArray bytes = pending.left(nl);
            pending.remove(0, nl + 1);
            line(bytes);
        }
        return;
    }
    if (!pending.isEmpty()) {
        line(pending);
        pending.clear();
    }
    if (!stay) {
        QCoreApplication::quit();
        return;
    }
    delete note;
    note = nullptr;
    // A FIFO opened anew waits for its next writer, so "echo cmd > fifo"
    // keeps working after the first writer has gone.
    struct stat st {};
    if (::fstat(STDIN_FILENO, &st) == 0 && S_ISFIFO(st.st_mode)) {
        const int fd = ::open("/proc/self/fd/0", O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0) {
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
            ::dup2(fd, STDIN_FILENO);
            ::close(fd);
            start();
        }
    }
}

void ControlInput::line(const QByteArray& bytes)
{
    if (onLine)
        onLine(QString::fromUtf8(bytes));
}
