#include "session.h"

#include "log/logline.h"

#include <QFile>

bool Session::load(const QString& path, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return false;
    }
    while (!file.atEnd()) {
        const QByteArray line = file.readLine().trimmed();
        if (line.startsWith("# args:")) {
            driverArgs = QString::fromUtf8(line.mid(7)).split(QLatin1Char(' '), Qt::SkipEmptyParts);
            continue;
        }
        SavedLine saved;
        if (!line.startsWith('#') && SavedLine::parse(line, &saved) && saved.isParentLine())
            parentLines.append({saved.time, saved.parentLine()});
    }
    return true;
}

QProcessEnvironment Session::driverEnvironment(const QByteArray& port)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("ZQ_BOARD_SERIAL", QString::fromLocal8Bit(port));
    env.remove("ZQ_BOARD_SPI");
    return env;
}
