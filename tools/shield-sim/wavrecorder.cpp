#include "wavrecorder.h"

#include "simio.h"
#include "wavfile.h"

#include <QFile>

#include <fcntl.h>
#include <unistd.h>

bool WavRecorder::open(const QString& path, QString* error)
{
    this->path = path;
    fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        *error = QStringLiteral("cannot create %1: %2").arg(path, errnoText());
        return false;
    }
    const QByteArray header = WavFile::header(0);
    if (::write(fd, header.constData(), static_cast<size_t>(header.size())) != header.size()) {
        *error = QStringLiteral("cannot write %1").arg(path);
        return false;
    }
    return true;
}

void WavRecorder::append(const QByteArray& bytes)
{
    if (fd < 0)
        return;
    if (::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size())
        recordedBytes += quint64(bytes.size());
    else
        failed();
    updateSizes();
}

void WavRecorder::close()
{
    if (fd < 0)
        return;
    updateSizes();
    ::close(fd);
    fd = -1;
}

// Two small writes a block keep the file a valid WAV at any moment.
void WavRecorder::updateSizes()
{
    const quint32 data = static_cast<quint32>(qMin<quint64>(recordedBytes, 0xFFFFFFFFull - 36));
    const QByteArray riff = le32(36 + data);
    const QByteArray dataSize = le32(data);
    if (::pwrite(fd, riff.constData(), 4, 4) != 4 || ::pwrite(fd, dataSize.constData(), 4, 40) != 4)
        failed();
}

// Said once: a full disk would otherwise report every block.
void WavRecorder::failed()
{
    if (errorTold)
        return;
    errorTold = true;
    postError(QStringLiteral("writing %1 failed: %2").arg(path, errnoText()));
}
