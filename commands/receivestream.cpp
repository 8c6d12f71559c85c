#include "commands/receivestream.h"
#include "commands/commandtesk.h"

ReceiveStream::ReceiveStream(int maxPending, bool keepSkipped)
    : maxPending(maxPending < FRAME_SIZE ? FRAME_SIZE : maxPending), keepSkipped(keepSkipped)
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
        skip(head, stream.size());
        if (keepSkipped)
            skipped += chunk.left(chunk.size() - maxPending);
        stream = chunk.right(maxPending);
        head = 0;
        return;
    }
    const int excess = pending() + chunk.size() - maxPending;
    if (excess > 0) {
        overflow += excess;
        skip(head, head + excess);
        head += excess;
    }
    compact();
    stream.append(chunk);
}

bool ReceiveStream::next(QByteArray* frame)
{
    const int from = head;
    while (stream.size() - head >= FRAME_SIZE) {
        const auto* p = reinterpret_cast<const unsigned char*>(stream.constData() + head);
        if (p[0] == FRAME_START && crc.comparision(p)) {
            skip(from, head);
            *frame = stream.mid(head, FRAME_SIZE);
            head += FRAME_SIZE;
            return true;
        }
        ++head;
    }
    skip(from, head);
    compact();
    return false;
}

void ReceiveStream::clear()
{
    stream.clear();
    head = 0;
    skipped.clear();
}

qint64 ReceiveStream::takeOverflow()
{
    const qint64 n = overflow;
    overflow = 0;
    return n;
}

QByteArray ReceiveStream::takeSkipped()
{
    QByteArray out;
    out.swap(skipped);
    return out;
}

void ReceiveStream::compact()
{
    if (head == 0)
        return;
    stream.remove(0, head);
    head = 0;
}

void ReceiveStream::skip(int from, int to)
{
    if (keepSkipped && to > from)
        skipped.append(stream.constData() + from, to - from);
}
