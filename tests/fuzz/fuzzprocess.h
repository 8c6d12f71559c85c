#ifndef FUZZPROCESS_H
#define FUZZPROCESS_H

// Process set-up shared by the fuzz targets, done once before any input.

#include "console/console.h"
#include "log/logservice.h"

#include <QCoreApplication>
#include <fcntl.h>
#include <unistd.h>

namespace fuzz {

inline void ignoreMessages(QtMsgType, const QMessageLogContext&, const QString&) {}

// An application object, diagnostics silenced (they would flood the
// fuzzer's log) and, with the driver's outputs, status lines sent nowhere, a
// log service whose queue is full (each new line drops one, so an input's
// log lines do not read as a leak) and the status line writer started.
inline void startProcess(const char* name, bool withDriverOutputs)
{
    static int argc = 1;
    static char* argv[] = {const_cast<char*>(name), nullptr};
    new QCoreApplication(argc, argv);
    qInstallMessageHandler(ignoreMessages);
    if (!withDriverOutputs)
        return;
    const int devNull = open("/dev/null", O_WRONLY);
    dup2(devNull, STDOUT_FILENO);
    close(devNull);
    logService = new LogService(1);
    for (int i = 0; i < LogService::kMaxLines; ++i)
        logService->debug("main", QByteArray("filler"));
    Console::writeLine(QString());
    Console::flush(1000);
}

} // namespace fuzz

#endif
