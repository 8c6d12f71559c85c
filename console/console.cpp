#include "console/console.h"

QTextStream Console::in(stdin, QIODevice::ReadOnly);
QTextStream Console::out(stdout, QIODevice::WriteOnly);
QTextStream Console::err(stderr, QIODevice::WriteOnly);
QMutex Console::outMutex;

void Console::writeLine(const QString& line)
{
    QMutexLocker lock(&outMutex);
    out << line << '\n';
    out.flush();
}
