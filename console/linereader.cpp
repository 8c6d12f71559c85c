#include "console/linereader.h"

#include <cstring>

LineReader::LineReader(int maxLine)
    : maxLine(maxLine)
{
}

static QByteArray chopCr(QByteArray line)
{
    if (line.endsWith('\r'))
        line.chop(1);
    return line;
}

QList<QByteArray> LineReader::feed(const char* data, int size)
{
    QList<QByteArray> lines;
    int pos = 0;
    while (pos < size) {
        const char* nl = static_cast<const char*>(memchr(data + pos, '\n', size - pos));
        const int end = nl ? static_cast<int>(nl - data) : size;
        if (!discarding) {
            current.append(data + pos, end - pos);
            // A trailing CR may be half of a CR LF ending still on its way:
            // it does not count against the limit.
            const int length = current.size() - (current.endsWith('\r') ? 1 : 0);
            if (length > maxLine) {
                discarding = true;
                ++dropped;
                current.clear();
                current.squeeze();
            }
        }
        if (nl) {
            if (!discarding)
                lines.append(chopCr(current));
            current.clear();
            discarding = false;
            pos = end + 1;
        } else {
            pos = size;
        }
    }
    return lines;
}

bool LineReader::finish(QByteArray* line)
{
    const bool have = !discarding && !current.isEmpty();
    if (have)
        *line = chopCr(current);
    current.clear();
    discarding = false;
    return have;
}

int LineReader::takeDropped()
{
    const int n = dropped;
    dropped = 0;
    return n;
}
