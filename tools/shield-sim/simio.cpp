#include "simio.h"

#include "commands/commandtesk.h"

#include <QCoreApplication>
#include <QtEndian>

#include <cerrno>
#include <cstdio>
#include <cstring>

void printError(const QString& text)
{
    fprintf(stderr, "shield-sim: %s\n", text.toLocal8Bit().constData());
    fflush(stderr);
}

void postLine(const QByteArray& line)
{
    QMetaObject::invokeMethod(QCoreApplication::instance(), [line] { printLine(line); }, Qt::QueuedConnection);
}

void postError(const QString& text)
{
    QMetaObject::invokeMethod(QCoreApplication::instance(), [text] { printError(text); }, Qt::QueuedConnection);
}

QString errnoText()
{
    return QString::fromLocal8Bit(strerror(errno));
}

QByteArray hexBytes(const QByteArray& bytes)
{
    return bytes.toHex(' ').toUpper();
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

QByteArray bytesOf(std::initializer_list<int> values)
{
    QByteArray b;
    for (int v : values)
        b.append(char(v & 0xFF));
    return b;
}

QByteArray le32(quint32 v)
{
    QByteArray b(4, '\0');
    qToLittleEndian<quint32>(v, b.data());
    return b;
}
