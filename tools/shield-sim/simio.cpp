#include "simio.h"

#include "commands/commandtesk.h"

#include <QCoreApplication>

#include <cstdio>

void printError(const QString& text)
{
    fprintf(stderr, "shield-sim: %s\n", text.toLocal8Bit().constData());
    fflush(stderr);
}

void postLine(const QByteArray& line)
{
    QMetaObject::invokeMethod(QCoreApplication::instance(), [line] { say(line); }, Qt::QueuedConnection);
}

void postError(const QString& text)
{
    QMetaObject::invokeMethod(QCoreApplication::instance(), [text] { printError(text); }, Qt::QueuedConnection);
}

QByteArray codeName(uint8_t cmd)
{
    if (const char* name = commandName(cmd))
        return name;
    return "cmd=0x" + QByteArray::number(cmd, 16).rightJustified(2, '0').toUpper();
}

bool parseNumber(const QString& text, qint64 min, qint64 max, qint64* value)
{
    bool ok = false;
    const bool hex = text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive);
    const qint64 v = hex ? text.mid(2).toLongLong(&ok, 16) : text.toLongLong(&ok, 10);
    if (!ok || v < min || v > max)
        return false;
    *value = v;
    return true;
}
