#include "framesplitter.h"

#include "commands/commandtesk.h"

// The cut for display. Frames with a good checksum are exactly the ones the
// driver's ReceiveStream takes: the first FF from which ten bytes pass the
// checksum. The bytes ReceiveStream skips are shown, not dropped: ten bytes
// from an FF inside which no good frame starts are a frame with a bad
// checksum (a frame damaged on the line, its alignment intact); anything
// else is junk. Telling the two apart may need the bytes of a good frame
// starting at the ninth byte after the FF, so up to 19 bytes can wait.

bool FrameSplitter::validAt(int pos) const
{
    const auto* p = reinterpret_cast<const unsigned char*>(stream.constData() + pos);
    return p[0] == FRAME_START && CRC_Korvel2023().comparision(p);
}

void FrameSplitter::push(const QByteArray& bytes, QVector<Piece>* out)
{
    stream.append(bytes);
    cut(false, out);
}

void FrameSplitter::finish(QVector<Piece>* out)
{
    cut(true, out);
}

void FrameSplitter::cut(bool final, QVector<Piece>* out)
{
    const int n = stream.size();
    int pos = 0;
    int junkFrom = -1;
    auto endJunk = [&](int at) {
        if (junkFrom >= 0)
            out->append({Piece::Junk, stream.mid(junkFrom, at - junkFrom)});
        junkFrom = -1;
    };
    while (pos < n) {
        if (static_cast<uint8_t>(stream.at(pos)) != FRAME_START) {
            if (junkFrom < 0)
                junkFrom = pos;
            ++pos;
            continue;
        }
        if (n - pos < FRAME_SIZE) {
            if (!final)
                break;
            if (junkFrom < 0)
                junkFrom = pos;
            pos = n;
            break;
        }
        if (validAt(pos)) {
            endJunk(pos);
            out->append({Piece::Frame, stream.mid(pos, FRAME_SIZE)});
            pos += FRAME_SIZE;
            continue;
        }
        // A later start can only be judged with its ten bytes; the first that
        // cannot be judged yet makes this one wait too.
        bool undecided = false;
        bool goodInside = false;
        for (int k = pos + 1; k < pos + FRAME_SIZE; ++k) {
            if (static_cast<uint8_t>(stream.at(k)) != FRAME_START)
                continue;
            if (k + FRAME_SIZE > n) {
                undecided = !final;
                break;
            }
            if (validAt(k)) {
                goodInside = true;
                break;
            }
        }
        if (undecided)
            break;
        if (goodInside) {
            if (junkFrom < 0)
                junkFrom = pos;
            ++pos;
            continue;
        }
        endJunk(pos);
        out->append({Piece::Frame, stream.mid(pos, FRAME_SIZE)});
        pos += FRAME_SIZE;
    }
    endJunk(pos);
    stream.remove(0, pos);
}
