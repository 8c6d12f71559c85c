#ifndef FRAMESPLITTER_H
#define FRAMESPLITTER_H

#include "commands/receivestream.h"

#include <QByteArray>
#include <QVector>
#include <limits>

// Cuts the serial byte stream of one direction into frames and junk for
// display, whatever the chunking of the reads. Frames with a good checksum
// are the ones ReceiveStream takes; of the bytes it skips, ten from an FF
// inside which no good frame starts are a frame too (damaged on the line,
// its alignment intact; the reader judges its checksum), the rest is junk.
class FrameSplitter
{
public:
    struct Piece {
        enum Kind { Frame, Junk };
        Kind kind;
        QByteArray bytes; // a frame: exactly FRAME_SIZE bytes, checksum not yet judged
    };

    // Appends bytes and adds the pieces now decided to out, in order.
    void push(const QByteArray& bytes, QVector<Piece>* out);
    // Decides what waits as if no more bytes came: a bad frame, or junk.
    void finish(QVector<Piece>* out);
    // Bytes that cannot be judged before more arrive (at most 19).
    int pending() const { return held.size() + stream.pending() - ahead; }
    void clear();

private:
    void takeSkipped();
    int show(const QByteArray& bytes, int limit, bool hold, QVector<Piece>* out);

    // Unbounded: a log line is shown whole.
    ReceiveStream stream{std::numeric_limits<int>::max() / 2, true};
    QByteArray held; // skipped by the stream, not shown yet
    int ahead = 0;   // bytes the stream still holds that were shown already
};

#endif
