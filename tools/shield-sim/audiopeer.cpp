#include "audiopeer.h"

#include "options.h"
#include "simio.h"

#include <QFile>
#include <QtEndian>

#include <cmath>
#include <fcntl.h>
#include <unistd.h>

namespace {

// WAV files of the audio line's format: 16 kHz, 16-bit signed LE, mono.

// The 44-byte header of a file with dataBytes of samples.
QByteArray wavHeader(quint32 dataBytes)
{
    QByteArray h;
    auto u16 = [&h](quint16 v) { char b[2]; qToLittleEndian<quint16>(v, b); h.append(b, 2); };
    auto u32 = [&h](quint32 v) { char b[4]; qToLittleEndian<quint32>(v, b); h.append(b, 4); };
    h.append("RIFF");
    u32(36 + dataBytes);
    h.append("WAVEfmt ");
    u32(16);
    u16(1); // PCM
    u16(1); // mono
    u32(kSampleRate);
    u32(kSampleRate * 2);
    u16(2);
    u16(16);
    h.append("data");
    u32(dataBytes);
    return h;
}

// All samples of the file; any other format is an error.
bool loadWav(const QString& name, QVector<qint16>* samples, QString* error)
{
    QFile f(name);
    if (!f.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot open %1: %2").arg(name, f.errorString());
        return false;
    }
    const QByteArray all = f.readAll();
    const auto* p = reinterpret_cast<const uchar*>(all.constData());
    if (all.size() < 12 || all.left(4) != "RIFF" || all.mid(8, 4) != "WAVE") {
        *error = QStringLiteral("%1 is not a WAV file").arg(name);
        return false;
    }
    bool haveFmt = false;
    QByteArray data;
    qint64 pos = 12;
    while (pos + 8 <= all.size()) {
        const QByteArray id = all.mid(static_cast<int>(pos), 4);
        const quint32 len = qFromLittleEndian<quint32>(p + pos + 4);
        const qint64 body = pos + 8;
        if (id == "fmt " && len >= 16 && body + 16 <= all.size()) {
            const quint16 tag = qFromLittleEndian<quint16>(p + body);
            const quint16 channels = qFromLittleEndian<quint16>(p + body + 2);
            const quint32 rate = qFromLittleEndian<quint32>(p + body + 4);
            const quint16 bits = qFromLittleEndian<quint16>(p + body + 14);
            if ((tag != 1 && tag != 0xFFFE) || channels != 1 || rate != kSampleRate || bits != 16) {
                *error = QStringLiteral("%1: need 16 kHz 16-bit mono PCM, found format %2, %3 channel(s), %4 Hz, %5 bit")
                             .arg(name).arg(tag).arg(channels).arg(rate).arg(bits);
                return false;
            }
            haveFmt = true;
        } else if (id == "data") {
            data = all.mid(static_cast<int>(body), static_cast<int>(qMin<qint64>(len, all.size() - body)));
        }
        pos = body + len + (len & 1);
    }
    if (!haveFmt || data.size() < 2) {
        *error = QStringLiteral("%1: no PCM samples found").arg(name);
        return false;
    }
    samples->resize(data.size() / 2);
    qFromLittleEndian<qint16>(data.constData(), samples->size(), samples->data());
    return true;
}

} // namespace

void AudioPeer::stop()
{
    peer.reset();
    if (recordFd < 0)
        return;
    updateSizes();
    ::close(recordFd);
    recordFd = -1;
}

bool AudioPeer::start(QString* error)
{
    if (!opts.wavIn.isEmpty() && !loadWav(opts.wavIn, &wavSamples, error))
        return false;
    if (!opts.record.isEmpty()) {
        // A header that could not be written leaves the file open: stop()
        // still finishes it.
        recordFd = ::open(QFile::encodeName(opts.record).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (recordFd < 0) {
            *error = QStringLiteral("cannot create %1: %2").arg(opts.record, errnoText());
            return false;
        }
        const QByteArray header = wavHeader(0);
        if (::write(recordFd, header.constData(), static_cast<size_t>(header.size())) != header.size()) {
            *error = QStringLiteral("cannot write %1").arg(opts.record);
            return false;
        }
    }
    rig::SpiPeer::Hooks hooks;
    hooks.keep = 0;
    hooks.answer = [this](const QByteArray& block) {
        QByteArray samples(block.size(), '\0');
        for (int i = 0; i + 1 < samples.size(); i += 2)
            qToLittleEndian<qint16>(nextSample(), samples.data() + i);
        return samples;
    };
    hooks.received = [this](const QByteArray& block) {
        // Idle words are the driver's "no audio", not sound: as samples they
        // would be a full-scale level across every pause of the parent.
        const bool idle = !opts.recordRaw && rig::SpiPeer::isIdle(block);
        record(idle ? QByteArray(block.size(), '\0') : block);
        silenced += idle;
        ++recorded;
        if (opts.verbose && recorded % 1000 == 0)
            postLine("spi blocks " + QByteArray::number(recorded));
    };
    hooks.connection = [](bool up) { postLine(up ? "spi connected" : "spi disconnected"); };
    peer = std::make_unique<rig::SpiPeer>(opts.spi, rig::SpiPeer::Answering, std::move(hooks));
    *error = peer->error();
    return error->isEmpty();
}

qint16 AudioPeer::nextSample()
{
    if (!wavSamples.isEmpty()) {
        const qint16 s = wavSamples.at(wavPos);
        wavPos = (wavPos + 1) % wavSamples.size();
        return s;
    }
    // The phase runs on across blocks, so the tone has no clicks.
    constexpr double kTwoPi = 6.283185307179586;
    const double s = opts.amplitude * std::sin(phase);
    phase += kTwoPi * opts.toneHz / kSampleRate;
    if (phase >= kTwoPi)
        phase -= kTwoPi;
    return static_cast<qint16>(std::lround(s));
}

void AudioPeer::record(const QByteArray& bytes)
{
    if (recordFd < 0)
        return;
    if (::write(recordFd, bytes.constData(), size_t(bytes.size())) == bytes.size())
        recordedBytes += quint64(bytes.size());
    else
        recordFailed();
    updateSizes();
}

// Two small writes a block keep the file a valid WAV at any moment.
void AudioPeer::updateSizes()
{
    const quint32 data = static_cast<quint32>(qMin<quint64>(recordedBytes, 0xFFFFFFFFull - 36));
    const QByteArray h = wavHeader(data);
    if (::pwrite(recordFd, h.constData() + 4, 4, 4) != 4 || ::pwrite(recordFd, h.constData() + 40, 4, 40) != 4)
        recordFailed();
}

// Said once: a full disk would otherwise report every block.
void AudioPeer::recordFailed()
{
    if (recordErrorTold)
        return;
    recordErrorTold = true;
    postError(QStringLiteral("writing %1 failed: %2").arg(opts.record, errnoText()));
}
