#include "loginput.h"

#include "log/logline.h"

#include <QFile>
#include <QSocketNotifier>
#include <QTimer>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// Asked for; without the privilege to force it the kernel caps it at
// net.core.rmem_max.
constexpr int kReceiveBuffer = 16 * 1024 * 1024;
// Datagrams read per wake-up at most, so a flood still lets the flush timer
// and the signals through; the rest wait in the socket, not lost.
constexpr int kMaxDatagramsPerWake = 4096;
constexpr int kStreamChunk = 256 * 1024;

QString errnoText() { return QString::fromLocal8Bit(strerror(errno)); }
}

double LogInput::now()
{
    using namespace std::chrono;
    return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count() / 1e6;
}

LogInput::~LogInput()
{
    delete notifier;
    if (fd > STDIN_FILENO) // stdin is not ours to close
        ::close(fd);
}

bool LogInput::listenUdp(quint16 port, QString* error)
{
    fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        *error = QStringLiteral("socket: %1").arg(errnoText());
        return false;
    }
    // Set before bind, so no datagram meets the default-sized buffer.
    int size = kReceiveBuffer;
    if (::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof(size)) != 0)
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof(size));
    socklen_t len = sizeof(rcvbuf);
    ::getsockopt(fd, SOL_SOCKET, SO_RCVBUF, &rcvbuf, &len);
    const int on = 1;
    if (::setsockopt(fd, SOL_SOCKET, SO_RXQ_OVFL, &on, sizeof(on)) == 0)
        drops = 0;
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) != 0) {
        const bool inUse = errno == EADDRINUSE;
        *error = QStringLiteral("cannot listen on 127.0.0.1:%1: %2").arg(port).arg(errnoText());
        // The driver logs to 20004 only: another port does not reach its log.
        if (inUse)
            *error += QStringLiteral(" (another listener, such as another zma-log, holds it; the driver always logs "
                                     "to 20004, and --port only helps for a log forwarded elsewhere)");
        return false;
    }
    // Larger than any datagram of the log (8 KiB), so none is cut.
    buffer.resize(64 * 1024);
    notifier = new QSocketNotifier(fd, QSocketNotifier::Read);
    connect(notifier, &QSocketNotifier::activated, this, &LogInput::readDatagrams);
    return true;
}

void LogInput::readDatagrams()
{
    for (int n = 0; n < kMaxDatagramsPerWake; ++n) {
        iovec iov = {buffer.data(), static_cast<size_t>(buffer.size())};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(uint32_t))];
        msghdr msg = {};
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        msg.msg_control = control;
        msg.msg_controllen = sizeof(control);
        const ssize_t got = ::recvmsg(fd, &msg, MSG_DONTWAIT);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            break;
        for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
            if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SO_RXQ_OVFL) {
                uint32_t total = 0;
                memcpy(&total, CMSG_DATA(c), sizeof(total));
                drops = total;
            }
        }
        ++lines;
        sink(now(), QByteArray(buffer.constData(), static_cast<int>(got)));
    }
    emit batchDone();
}

bool LogInput::openStream(const QString& path, QString* error)
{
    if (path == QLatin1String("-")) {
        fd = STDIN_FILENO;
    } else {
        fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            *error = QStringLiteral("cannot open %1: %2").arg(path, errnoText());
            return false;
        }
        }
    struct stat st = {};
    regularFile = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    buffer.resize(kStreamChunk);
    if (regularFile) {
        // Always readable: read it in chunks from the event loop, so a
        // signal is heard while a large file goes by.
        QTimer::singleShot(0, this, &LogInput::readStream);
    } else {
        notifier = new QSocketNotifier(fd, QSocketNotifier::Read);
        connect(notifier, &QSocketNotifier::activated, this, &LogInput::readStream);
    }
    return true;
}

void LogInput::readStream()
{
    const ssize_t got = ::read(fd, buffer.data(), static_cast<size_t>(buffer.size()));
    const bool again = got < 0 && (errno == EINTR || errno == EAGAIN);
    if (got <= 0 && !again) {
        if (notifier)
            notifier->setEnabled(false);
        if (!partial.isEmpty())
            streamBytes("\n", 1);
        emit batchDone();
        emit finished();
        return;
    }
    if (got > 0) {
        streamBytes(buffer.constData(), got);
        emit batchDone();
    }
    if (regularFile)
        QTimer::singleShot(0, this, &LogInput::readStream);
}

void LogInput::streamBytes(const char* data, qint64 size)
{
    qint64 from = 0;
    while (const void* nl = memchr(data + from, '\n', static_cast<size_t>(size - from))) {
        const qint64 i = static_cast<const char*>(nl) - data;
        QByteArray line = partial;
        line.append(data + from, static_cast<int>(i - from));
        partial.clear();
        from = i + 1;
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.isEmpty())
            continue;
        ++lines;
        SavedLine saved;
        if (SavedLine::parse(line, &saved))
            sink(saved.time, saved.text);
        else
            sink(0, line);
    }
    partial.append(data + from, static_cast<int>(size - from));
    // Log lines are at most 8 KiB: a stream without line ends is not a log,
    // and must not grow without end. Its bytes go out as a line of their own.
    if (partial.size() > kMaxLineBytes) {
        ++lines;
        sink(0, partial);
        partial.clear();
    }
}
