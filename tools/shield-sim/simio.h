#ifndef SHIELD_SIM_SIMIO_H
#define SHIELD_SIM_SIMIO_H

// Shared by the whole simulator: its output lines (say() for an event line,
// flushed at once), the way it writes bytes and numbers, the rate of the
// audio line.

#include "commands/commandtesk.h"
#include "rig/say.h"

#include <QCoreApplication>
#include <QString>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

// 16-bit mono samples a second, both ways, on the audio line.
constexpr int kSampleRate = 16000;

// "shield-sim: TEXT" on standard error.
inline void printError(const QString& text)
{
    fprintf(stderr, "shield-sim: %s\n", text.toLocal8Bit().constData());
    fflush(stderr);
}
// The same, or say(), from another thread: the main thread prints them, in
// order, so lines never tear and the main thread alone waits on a slow reader.
inline void postLine(const QByteArray& line)
{
    QMetaObject::invokeMethod(QCoreApplication::instance(), [line] { say(line); }, Qt::QueuedConnection);
}
inline void postError(const QString& text)
{
    QMetaObject::invokeMethod(QCoreApplication::instance(), [text] { printError(text); }, Qt::QueuedConnection);
}

// strerror(errno) as a QString.
inline QString errnoText() { return QString::fromLocal8Bit(strerror(errno)); }

// "FF 48 65 ..": upper case, one space between bytes.
inline QByteArray hexBytes(const QByteArray& bytes) { return bytes.toHex(' ').toUpper(); }
// The code's name (CMD_CALL, ...) or cmd=0xNN.
inline QByteArray codeName(uint8_t cmd)
{
    const char* name = commandName(cmd);
    return name ? QByteArray(name) : "cmd=0x" + QByteArray::number(cmd, 16).rightJustified(2, '0').toUpper();
}
// Decimal, or hex with 0x; false if malformed or outside min..max.
inline bool parseNumber(const QString& text, qint64 min, qint64 max, qint64* value)
{
    bool ok = false;
    const bool hex = text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive);
    const qint64 v = hex ? text.mid(2).toLongLong(&ok, 16) : text.toLongLong(&ok, 10);
    if (!ok || v < min || v > max)
        return false;
    *value = v;
    return true;
}

#endif
