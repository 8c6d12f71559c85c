#include "commands/framesplitter.h"
#include "commands/commandtesk.h"

void FrameSplitter::push(const QByteArray& bytes, QVector<Piece>* out)
{
    stream.append(bytes);
    QByteArray frame;
    while (stream.next(&frame)) {
        takeSkipped();
        show(held, held.size(), false, out);
        held.clear();
        out->append({Piece::Frame, frame});
    }
    takeSkipped();
    // The stream has skipped every start before its last nine bytes: a good
    // frame can only start at an FF among these, and what it could cut waits.
    const QByteArray rest = stream.pendingBytes().mid(ahead);
    const int start = rest.indexOf(char(FRAME_START));
    const int shown = show(held + rest, held.size() + (start < 0 ? rest.size() : start), true, out);
    // Shown past what the stream skipped: no FF there, so it will skip them.
    ahead += qMax(0, shown - held.size());
    held.remove(0, shown);
}

void FrameSplitter::finish(QVector<Piece>* out)
{
    const QByteArray rest = held + stream.pendingBytes().mid(ahead);
    show(rest, rest.size(), false, out);
    clear();
}

void FrameSplitter::clear()
{
    stream.clear();
    held.clear();
    ahead = 0;
}

void FrameSplitter::takeSkipped()
{
    const QByteArray skipped = stream.takeSkipped();
    const int known = qMin(ahead, skipped.size());
    ahead -= known;
    held += skipped.mid(known);
}

// Shows bytes up to where a good frame may start (limit): an FF with its ten
// bytes before limit as a frame, other bytes as junk. An FF too near limit
// is junk, or with hold, waits with all after it. Returns the bytes shown.
int FrameSplitter::show(const QByteArray& bytes, int limit, bool hold, QVector<Piece>* out)
{
    int pos = 0;
    int junkFrom = 0;
    auto endJunk = [&] {
        if (pos > junkFrom)
            out->append({Piece::Junk, bytes.mid(junkFrom, pos - junkFrom)});
    };
    while (pos < bytes.size()) {
        const bool start = static_cast<uint8_t>(bytes.at(pos)) == FRAME_START;
        if (start && pos + FRAME_SIZE <= limit) {
            endJunk();
            out->append({Piece::Frame, bytes.mid(pos, FRAME_SIZE)});
            pos += FRAME_SIZE;
            junkFrom = pos;
        } else if (start && hold) {
            break;
        } else {
            ++pos;
        }
    }
    endJunk();
    return pos;
}
