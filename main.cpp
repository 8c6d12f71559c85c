#include "console/console.h"
#include "log/logservice.h"
#include "zma/controllerkorvel2023.h"
#include "zma/modelkorvel2023.h"
#include "zma/settings.h"

#include <QCoreApplication>
#include <QTextCodec>
#include <QThread>
#include <cstdio>

int main(int argc, char** argv)
{
    setbuf(stdout, nullptr);
    QCoreApplication app(argc, argv);
    // Diagnostics carry Cyrillic text: keep them UTF-8 whatever the locale.
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("UTF-8"));
    Console::out.setCodec("UTF-8");

    Settings* settings = new Settings();
    settings->parser_param(argc, argv);

    logService = new LogService(1);
    QThread::msleep(100);

    ModelKorvel2023* model = new ModelKorvel2023(settings);
    ControllerKorvel2023* controller = new ControllerKorvel2023(model);
    controller->start(1);

    const int code = app.exec();

    // Reached only when standard input has ended: stop the workers, give
    // the last log lines their chance to leave.
    controller->stop();
    logService->debug("Console", "End of input, driver stops");
    logService->flush(100);
    return code;
}
