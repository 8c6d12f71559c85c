#ifndef CONSOLE_H
#define CONSOLE_H

#include <QString>
#include <QTextStream>

class LineWriter;

// The process's standard streams. Lines for the parent go to standard output
// through a writer thread, whole and in order, so that a parent that stops
// reading never blocks the thread that writes a status line.
class Console
{
public:
    static QTextStream in;
    static QTextStream out;
    static QTextStream err;

    // Lines that wait while the parent does not read; past it the oldest
    // are lost and reported on standard error.
    static constexpr int kMaxWaitingLines = 1024;

    // Queues one line for standard output; never blocks.
    static void writeLine(const QString& line);
    // Waits until the queued lines are written, for at most timeoutMs.
    static bool flush(int timeoutMs);

private:
    static LineWriter& writer();
};

#endif
