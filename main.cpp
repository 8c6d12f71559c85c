#include "console/console.h"
#include "log/diagnostics.h"
#include "log/logservice.h"
#include "utils/signalwatcher.h"
#include "zma/controllerkorvel2023.h"
#include "zma/modelkorvel2023.h"
#include "zma/settings.h"

#include <QCoreApplication>
#include <QTextCodec>
#include <QThread>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

// A closed standard descriptor would be taken by the next one opened (the
// main loop's eventfd): stdin would read its wake-ups, stdout write into it.
static void openClosedStandardDescriptors()
{
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) == -1 && errno == EBADF)
            open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
    }
}

int main(int argc, char** argv)
{
    const QString answer = Settings::answerBeforeStart(argc, argv);
    if (!answer.isEmpty()) {
        fputs(answer.toUtf8().constData(), stdout);
        return fflush(stdout) == 0 && !ferror(stdout) ? 0 : 1;
    }
    openClosedStandardDescriptors();
    SignalWatcher::install();
    setbuf(stdout, nullptr);
    QCoreApplication app(argc, argv);
    Diagnostics::install();
    // Diagnostics carry Cyrillic text: keep them UTF-8 whatever the locale.
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("UTF-8"));
    SignalWatcher* signalWatcher = SignalWatcher::start();

    Settings* settings = new Settings();
    settings->parser_param(argc, argv);

    logService = new LogService(1);
    QThread::msleep(100);

    ModelKorvel2023* model = new ModelKorvel2023(settings);
    ControllerKorvel2023* controller = new ControllerKorvel2023(model);
    controller->start(1);

    const int code = app.exec();

    // Reached when standard input has ended or a stop signal came: stop the
    // workers, give the last log lines and status lines their chance to leave.
    const int signalNumber = signalWatcher->caught();
    controller->stop(signalNumber == 0);
    // The stop line is the log's last, whatever another thread logs late.
    if (signalNumber == 0)
        logService->finish("Console", "End of input, driver stops", 200);
    else
        logService->finish("main", QByteArray("Signal ") + SignalWatcher::name(signalNumber) + ", driver stops", 200);
    Console::flush(200);
    Diagnostics::flush(100);
    return code;
}
