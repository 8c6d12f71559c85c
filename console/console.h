#ifndef CONSOLE_H
#define CONSOLE_H

#include <QMutex>
#include <QString>
#include <QTextStream>

// The process's standard streams. Lines for the parent are written whole
// under outMutex: the console thread and the main thread both write them.
class Console
{
public:
    static QTextStream in;
    static QTextStream out;
    static QTextStream err;
    static QMutex outMutex;

    // Writes one line to standard output and flushes it at once.
    static void writeLine(const QString& line);
};

#endif
