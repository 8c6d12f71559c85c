#ifndef FRAMESPLITTER_H
#define FRAMESPLITTER_H

// Cuts the serial byte stream of one direction into frames and junk for
// display, whatever the chunking of the reads.

#include <QByteArray>
#include <QVector>

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
    int pending() const { return stream.size(); }
    void clear() { stream.clear(); }

private:
    bool validAt(int pos) const;
    void cut(bool final, QVector<Piece>* out);

    QByteArray stream;
};

#endif
