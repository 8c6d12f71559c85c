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
    struct Timed {
        double time;
        QByteArray text;
    };
    QList<Timed> parent;
    double origin = -1;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine().trimmed();
        if (line.startsWith("# args:")) {
            driverArgs = QString::fromUtf8(line.mid(7)).split(QLatin1Char(' '), Qt::SkipEmptyParts);
            continue;
        }
        SavedLine saved;
        if (line.startsWith('#') || !SavedLine::parse(line, &saved))
            continue;
        if (saved.isParentLine()) {
            parent.append({saved.time, saved.parentLine()});
            continue;
        }
        LogLine log;
        if (origin < 0 && LogLine::parse(saved.text, &log) && log.category == "Uart WRITE")
            origin = saved.time;
    }
    if (origin < 0) {
        *error = QStringLiteral("%1: no frame of the driver (Uart WRITE) in it").arg(path);
        return false;
    }
    for (const Timed& p : parent)
        parentLines.append({qRound64((p.time - origin) * 1000.0), p.text});
    return true;
}
