#ifndef SHIELD_SIM_SIMIO_H
#define SHIELD_SIM_SIMIO_H

// Shared by the whole simulator: its output lines (say() for an event line,
// flushed at once), the way it writes bytes and numbers, the rate of the
// audio line.

#include "rig/say.h"

#include <QString>

#include <cerrno>
#include <cstdint>
#include <cstring>

// 16-bit mono samples a second, both ways, on the audio line.
constexpr int kSampleRate = 16000;

// "shield-sim: TEXT" on standard error.
void printError(const QString& text);
// The same from another thread: the main thread prints them, in order, so
// lines never tear and the main thread alone waits on a slow reader.
void postLine(const QByteArray& line);
void postError(const QString& text);

// strerror(errno) as a QString.
inline QString errnoText() { return QString::fromLocal8Bit(strerror(errno)); }

// "FF 48 65 ..": upper case, one space between bytes.
inline QByteArray hexBytes(const QByteArray& bytes) { return bytes.toHex(' ').toUpper(); }
// The code's name (CMD_CALL, ...) or cmd=0xNN.
QByteArray codeName(uint8_t cmd);
// Decimal, or hex with 0x; false if malformed or outside min..max.
bool parseNumber(const QString& text, qint64 min, qint64 max, qint64* value);

#endif
