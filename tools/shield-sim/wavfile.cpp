#include "wavfile.h"

#include "simio.h"

#include <QFile>
#include <QtEndian>

QByteArray WavFile::header(quint32 dataBytes)
{
    QByteArray h;
    auto u16 = [&h](quint16 v) { char b[2]; qToLittleEndian<quint16>(v, b); h.append(b, 2); };
    auto u32 = [&h](quint32 v) { h.append(le32(v)); };
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

bool WavFile::load(const QString& name, QVector<qint16>* samples, QString* error)
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
