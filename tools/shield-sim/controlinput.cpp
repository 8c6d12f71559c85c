#include "controlinput.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
    if (n > 0)
        pending.append(buf, static_cast<int>(n));
    else if (!pending.isEmpty())
        pending.append('\n'); // the end closes a last line without one
    int nl;
    while ((nl = pending.indexOf('\n')) >= 0) {
        const QByteArray bytes = pending.left(nl);
        pending.remove(0, nl + 1);
        if (onLine)
            onLine(QString::fromUtf8(bytes));
    }
    if (n > 0)
        return;
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
