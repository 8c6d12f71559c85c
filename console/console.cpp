#include "console/console.h"
#include "log/diagnostics.h"
#include "utils/linewriter.h"

#include <unistd.h>

QTextStream Console::in(stdin, QIODevice::ReadOnly);
QTextStream Console::out(stdout, QIODevice::WriteOnly);
QTextStream Console::err(stderr, QIODevice::WriteOnly);

LineWriter& Console::writer()
{
    // Never destroyed: the writer thread may outlive main().
    static LineWriter* stdoutWriter = new LineWriter(STDOUT_FILENO, kMaxWaitingLines, {}, [](long long lost) {
        Diagnostics::report("ERROR: stdout: a status line was lost, the parent does not read them", lost);
    });
    return *stdoutWriter;
}

void Console::writeLine(const QString& line)
{
    writer().write(line.toUtf8() + '\n');
}

bool Console::flush(int timeoutMs)
{
    return writer().flush(timeoutMs);
}
