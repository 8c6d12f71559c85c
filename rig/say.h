#ifndef RIG_SAY_H
#define RIG_SAY_H

// printf to stdout, flushed at once: the tools' figures reach a pipe or a
// log file as they come, not when the run ends.

#include <QByteArray>
#include <cstdarg>
#include <cstdio>

inline void say(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
inline void say(const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    vprintf(fmt, ap);
    va_end(ap);
    fflush(stdout);
}

// One line, its end added.
inline void say(const QByteArray& line)
{
    fwrite(line.constData(), 1, size_t(line.size()), stdout);
    fputc('\n', stdout);
    fflush(stdout);
}

#endif
