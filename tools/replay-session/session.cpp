#include "session.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

bool Session::load(const QString& path, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return false;
    }
    bool hasArgs = false;
    int number = 0;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine().trimmed();
        ++number;
        if (line.startsWith("# args:")) {
            driverArgs = QString::fromUtf8(line.mid(7)).split(QLatin1Char(' '), Qt::SkipEmptyParts);
            hasArgs = true;
            continue;
        }
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        SavedLine saved;
        if (!SavedLine::parse(line, &saved)) {
            *error = QStringLiteral("%1:%2: not a line of a saved log (receive time, tab, line): a session is a log "
                                    "saved by zma-log --save, or recorded by replay-session --record")
                         .arg(path)
                         .arg(number);
            return false;
        }
        if (saved.isParentLine())
            parentLines.append(saved);
    }
    // What zma-log --save keeps of a board: the driver's log alone. Replayed,
    // the driver would miss every line the parent gave it and differ at the
    // first answer to one.
    if (!hasArgs && parentLines.isEmpty()) {
        *error = QStringLiteral("%1: saved by zma-log --save from a live board: add the parent's lines, "
                                "or replay with shield-sim --replay")
                     .arg(path);
        return false;
    }
    return true;
}

bool Session::leaveOut(const QByteArray& text)
{
    for (int i = 0; i < parentLines.size(); ++i) {
        if (parentLines.at(i).parentLine() == text) {
            parentLines.removeAt(i);
            return true;
        }
    }
    return false;
}

QProcessEnvironment Session::driverEnvironment(const QByteArray& port)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("ZQ_BOARD_SERIAL", QString::fromLocal8Bit(port));
    env.remove("ZQ_BOARD_SPI");
    // Installed beside the simulator: only the stand-in reads ZQ_BOARD_SERIAL.
    const QString standIn = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral(ZMA_SIM_LIBDIR));
    if (QFileInfo::exists(standIn + "/libzq-board-korvel-2023.so.1")) {
        const QString before = env.value("LD_LIBRARY_PATH");
        env.insert("LD_LIBRARY_PATH", QDir::cleanPath(standIn) + (before.isEmpty() ? QString() : ":" + before));
    }
    return env;
}
