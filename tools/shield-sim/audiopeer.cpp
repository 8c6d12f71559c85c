#include "audiopeer.h"

#include "options.h"
#include "simio.h"
#include "wavfile.h"

#include <QFile>
#include <QSocketNotifier>
#include <QtEndian>

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

AudioPeer::AudioPeer(const Options& opts) : opts(opts), source(opts.toneHz, opts.amplitude)
{
}

bool AudioPeer::prepare(QString* error)
{
    if (!opts.wavIn.isEmpty()) {
        QVector<qint16> samples;
        if (!WavFile::load(opts.wavIn, &samples, error))
            return false;
        source.setSamples(samples);
    }
    if (!opts.record.isEmpty() && !recorder.open(opts.record, error))
        return false;
    const QByteArray path = QFile::encodeName(opts.spi);
    sockaddr_un addr{};
    if (path.size() >= static_cast<int>(sizeof(addr.sun_path))) {
        *error = QStringLiteral("socket path too long: %1").arg(opts.spi);
        return false;
    }
    struct stat st {};
    if (::lstat(path.constData(), &st) == 0) {
        if (!S_ISSOCK(st.st_mode)) {
            *error = QStringLiteral("%1 exists and is not a socket").arg(opts.spi);
            return false;
        }
        ::unlink(path.constData()); // left over from an earlier run
    }
    listenFd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (listenFd < 0) {
        *error = QStringLiteral("socket: %1").arg(errnoText());
        return false;
    }
    addr.sun_family = AF_UNIX;
    memcpy(addr.sun_path, path.constData(), static_cast<size_t>(path.size()));
    if (::bind(listenFd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0
        || ::listen(listenFd, 4) != 0) {
        *error = QStringLiteral("cannot listen on %1: %2").arg(opts.spi, errnoText());
        return false;
    }
    socketPath = path;
    return true;
}

void AudioPeer::start()
{
    listenNote = new QSocketNotifier(listenFd, QSocketNotifier::Read, this);
    connect(listenNote, &QSocketNotifier::activated, this, [this] { acceptPeer(); });
}

void AudioPeer::stop()
{
    dropPeer(false);
    delete listenNote;
    listenNote = nullptr;
    if (listenFd >= 0) {
        ::close(listenFd);
        listenFd = -1;
        ::unlink(socketPath.constData());
    }
    recorder.close();
}

void AudioPeer::acceptPeer()
{
    for (;;) {
        const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        // A new driver replaces the old one: one peer at a time.
        dropPeer(true);
        peerFd = fd;
        peerNote = new QSocketNotifier(peerFd, QSocketNotifier::Read, this);
        connect(peerNote, &QSocketNotifier::activated, this, [this] { readPeer(); });
        postLine("spi connected");
    }
}

void AudioPeer::dropPeer(bool tell)
{
    if (peerFd < 0)
        return;
    delete peerNote;
    peerNote = nullptr;
    ::close(peerFd);
    peerFd = -1;
    if (tell)
        postLine("spi disconnected");
}

void AudioPeer::readPeer()
{
    for (;;) {
        const ssize_t n = ::recv(peerFd, rxBuf, sizeof(rxBuf), MSG_DONTWAIT);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        if (n <= 0) {
            dropPeer(true);
            return;
        }
        answer(static_cast<size_t>(n));
    }
}

void AudioPeer::answer(size_t len)
{
    for (size_t i = 0; i + 1 < len; i += 2)
        qToLittleEndian<qint16>(source.next(), txBuf + i);
    if (len % 2)
        txBuf[len - 1] = 0;
    // A late answer would be thrown away by the peer anyway: never wait.
    ::send(peerFd, txBuf, len, MSG_DONTWAIT | MSG_NOSIGNAL);
    recorder.append(rxBuf, len);
    const quint64 count = ++blocks;
    if (opts.verbose && count % 1000 == 0)
        postLine("spi blocks " + QByteArray::number(count));
}
