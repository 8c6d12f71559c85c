#include "commands/receivestream.h"
#include "commands/commandtesk.h"

QList<QByteArray> ReceiveStream::push(const QByteArray& chunk)
{
    stream.append(chunk);
    QList<QByteArray> frames;
    int pos = 0;
    while (stream.size() - pos >= FRAME_SIZE) {
        const auto* p = reinterpret_cast<const unsigned char*>(stream.constData() + pos);
        if (p[0] == FRAME_START && crc.comparision(p)) {
            frames.append(stream.mid(pos, FRAME_SIZE));
            pos += FRAME_SIZE;
        } else {
            ++pos;
        }
    }
    stream.remove(0, pos);
    return frames;
}
