#ifndef LINEREADER_H
#define LINEREADER_H

#include <QByteArray>
#include <QList>

// Splits a byte stream into lines (LF or CR LF). A line longer than maxLine
// bytes is dropped whole, so memory stays bounded whatever the input.
class LineReader
{
public:
    explicit LineReader(int maxLine = 64 * 1024);

    QList<QByteArray> feed(const char* data, int size);
    // End of input: the last line if it had no line feed.
    bool finish(QByteArray* line);
    // Lines dropped for their length since the last call.
    int takeDropped();

private:
    int maxLine;
    QByteArray current;
    bool discarding = false;
    int dropped = 0;
};

#endif
