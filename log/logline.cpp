#include "log/logline.h"

namespace {
// Reads "[text]" at pos; returns the text and moves pos past it.
bool bracket(const QByteArray& s, int* pos, QByteArray* text)
{
    if (*pos >= s.size() || s.at(*pos) != '[')
        return false;
    const int close = s.indexOf(']', *pos + 1);
    if (close < 0)
        return false;
    *text = s.mid(*pos + 1, close - *pos - 1);
    *pos = close + 1;
    return true;
}
}

QByteArray LogLine::withoutLineEnd(QByteArray s)
{
    while (s.endsWith('\n') || s.endsWith('\r'))
        s.chop(1);
    return s;
}

bool LogLine::parse(const QByteArray& raw, LogLine* out)
{
    const QByteArray s = withoutLineEnd(raw);
    LogLine line;
    int pos = 0;
    if (!bracket(s, &pos, &line.level))
        return false;
    if (line.level == "Debug") {
        if (!bracket(s, &pos, &line.clock))
            return false;
    } else if (line.level != "ERROR") {
        return false;
    }
    if (pos >= s.size() || s.at(pos) != ' ')
        return false;
    ++pos;
    if (!bracket(s, &pos, &line.category) || !s.mid(pos).startsWith(": "))
        return false;
    line.message = s.mid(pos + 2);
    if (line.message.endsWith(kContinuationMark)) {
        line.message.chop(1);
        line.continued = true;
    }
    *out = line;
    return true;
}

QByteArray LogLine::hexBytes() const
{
    // Skips the spaces between the pairs.
    return QByteArray::fromHex(message);
}

bool SavedLine::parse(const QByteArray& line, SavedLine* out)
{
    const int tab = line.indexOf('\t');
    if (tab <= 0)
        return false;
    bool ok = false;
    const double t = line.left(tab).toDouble(&ok);
    if (!ok)
        return false;
    out->time = t;
    out->text = LogLine::withoutLineEnd(line.mid(tab + 1));
    return true;
}

QByteArray SavedLine::format(double time, const QByteArray& text)
{
    return QByteArray::number(time, 'f', 6) + '\t' + LogLine::withoutLineEnd(text);
}
