#include "commands/receivestream.h"
#include "commands/commandtesk.h"

ReceiveStream::ReceiveStream(int maxPending)
    : maxPending(maxPending < FRAME_SIZE ? FRAME_SIZE : maxPending)
{
}

QList<QByteArray> ReceiveStream::push(const QByteArray& chunk)
{
    append(chunk);
    QList<QByteArray> frames;
    QByteArray frame;
    while (next(&frame))
        frames.append(frame);
    return frames;
}

void ReceiveStream::append(const QByteArray& chunk)
{
    if (chunk.size() >= maxPending) {
        // Only the newest bytes can still matter.
        overflow += pending() + chunk.size() - maxPending;
        stream = chunk.right(maxPending);
        head = 0;
        return;
    }
    const int excess = pending() + chunk.size() - maxPending;
    if (excess > 0) {
        overflow += excess;
        head += excess;
    }
    compact();
    stream.append(chunk);
}

bool ReceiveStream::next(QByteArray* frame)
{
    while (stream.size() - head >= FRAME_SIZE) {
        const auto* p = reinterpret_cast<const unsigned char*>(stream.constData() + head);
        if (p[0] == FRAME_START && crc.comparision(p)) {
            *frame = stream.mid(head, FRAME_SIZE);
            head += FRAME_SIZE;
            return true;
        }
        ++head;
    }
    compact();
    return false;
}

void ReceiveStream::clear()
{
    stream.clear();
    head = 0;
}

qint64 ReceiveStream::takeOverflow()
{
    const qint64 n = overflow;
    overflow = 0;
    return n;
}

void ReceiveStream::compact()
{
    if (head == 0)
        return;
    stream.remove(0, head);
    head = 0;
}
