#include "framecutter.h"

QList<FrameCutter::Piece> FrameCutter::push(const QByteArray& chunk)
{
    QList<Piece> pieces;
    auto dropped = [&] {
        const QByteArray bytes = stream.takeSkipped();
        if (!bytes.isEmpty())
            pieces.append({true, bytes});
    };
    stream.append(chunk);
    QByteArray frame;
    while (stream.next(&frame)) {
        dropped();
        pieces.append({false, frame});
    }
    dropped();
    return pieces;
}
