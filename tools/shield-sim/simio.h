#ifndef SHIELD_SIM_SIMIO_H
#define SHIELD_SIM_SIMIO_H

// Shared by the whole simulator: its output lines, the way it
// writes bytes and numbers, the rate of the audio line.

#include "rig/say.h"

#include <QString>

#include <cstdint>
#include <initializer_list>

// 16-bit mono samples a second, both ways, on the audio line.
constexpr int kSampleRate = 16000;

// One event line on standard output, flushed at once.
inline void printLine(const QByteArray& line) { say(line); }
// "shield-sim: TEXT" on standard error.
void printError(const QString& text);
// The same from another thread: the main thread prints them, in order, so
// lines never tear and the main thread alone waits on a slow reader.
void postLine(const QByteArray& line);
void postError(const QString& text);

// strerror(errno) as a QString.
QString errnoText();

// "FF 48 65 ..": upper case, one space between bytes.
QByteArray hexBytes(const QByteArray& bytes);
// The code's name (CMD_CALL, ...) or cmd=0xNN.
QByteArray codeName(uint8_t cmd);
// Decimal, or hex with 0x; false if malformed or outside min..max.
bool parseNumber(const QString& text, qint64 min, qint64 max, qint64* value);
// The low byte of each value.
QByteArray bytesOf(std::initializer_list<int> values);
QByteArray le32(quint32 v);

#endif
