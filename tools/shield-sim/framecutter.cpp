#include "framecutter.h"

#include "commands/commandtesk.h"

QList<FrameCutter::Piece> FrameCutter::push(const QByteArray& chunk)
{
    QList<Piece> pieces;
    copy.append(chunk);
    const QList<QByteArray> frames = stream.push(chunk);
    int cursor = 0;
    for (const QByteArray& frame : frames) {
        int at = copy.indexOf(frame, cursor);
        if (at < 0)
            at = cursor;
        if (at > cursor)
            pieces.append({true, copy.mid(cursor, at - cursor)});
        cursor = at + FRAME_SIZE;
        pieces.append({false, frame});
    }
    const int end = copy.size() - stream.pending();
    if (end > cursor)
        pieces.append({true, copy.mid(cursor, end - cursor)});
    copy = copy.mid(end);
    return pieces;
}
