#include "logdecoder.h"

#include "commands/commandtesk.h"
#include "framedecoder.h"
#include "log/logline.h"

#include <cmath>
#include <ctime>

namespace {
const char* const kDim = "\033[2m";
const char* const kBold = "\033[1m";
const char* const kRed = "\033[1;31m";
const char* const kYellow = "\033[33m";
const char* const kCyan = "\033[36m";
const char* const kMagenta = "\033[35m";
const char* const kReset = "\033[0m";

// Under the message: the width of "hh:mm:ss.zzz ".
const QByteArray kIndent(13, ' ');
// A pieced line that never ends (its last piece lost) is printed once this long.
constexpr int kMaxJoined = 4 * 1024 * 1024;

QByteArray chopLineEnd(QByteArray s)
{
    while (s.endsWith('\n') || s.endsWith('\r'))
        s.chop(1);
    return s;
}

// The log's own clock format, in local time like the driver's stamps.
QByteArray clockOf(double time)
{
    if (time <= 0)
        return QByteArray(12, ' ');
    const time_t secs = static_cast<time_t>(std::floor(time));
    int ms = static_cast<int>((time - std::floor(time)) * 1000);
    ms = ms > 999 ? 999 : ms;
    struct tm local = {};
    localtime_r(&secs, &local);
    char buf[32];
    snprintf(buf, sizeof(buf), "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min, local.tm_sec, ms);
    return QByteArray(buf);
}
}

LogDecoder::LogDecoder(const Options& options)
    : opts(options)
{
}

QByteArray LogDecoder::paint(const char* code, const QByteArray& text) const
{
    return opts.colour ? code + text + kReset : text;
}

bool LogDecoder::wanted(const QByteArray& category) const
{
    return opts.only.isEmpty() || opts.only.contains(category);
}

void LogDecoder::decode(const QByteArray& text, double time, QByteArray* out)
{
    const QByteArray line = chopLineEnd(text);
    LogLine log;
    const bool parsed = LogLine::parse(line, &log);
    // Lines that are not log lines (a parent's console lines of a session
    // file, anything else) are shown only when no category is chosen.
    if (!parsed) {
        if (!opts.only.isEmpty() || line.isEmpty())
            return;
        if (opts.raw) {
            *out += line + '\n';
        } else if (line.startsWith("> ")) {
            *out += paint(kDim, clockOf(time)) + ' ' + paint(kMagenta, "parent> " + line.mid(2)) + '\n';
        } else {
            *out += paint(kDim, clockOf(time)) + ' ' + line + '\n';
        }
        return;
    }
    if (!wanted(log.category))
        return;
    if (opts.raw) {
        *out += line + '\n';
        return;
    }

    const QByteArray key = log.level + ' ' + log.category;
    auto it = pending.find(key);
    if (it != pending.end()) {
        it->message += log.message;
        if (log.continued && it->message.size() < kMaxJoined)
            return;
        log.clock = it->clock;
        log.message = it->message;
        pending.erase(it);
    } else if (log.continued) {
        pending.insert(key, {log.clock, log.message});
        return;
    }

    const bool error = log.level != "Debug";
    *out += paint(kDim, log.clock.isEmpty() ? clockOf(time) : log.clock);
    *out += ' ' + paint(kBold, '[' + log.category + ']');
    if (error)
        *out += ' ' + paint(kRed, "ERROR " + log.message) + '\n';
    else
        *out += ' ' + log.message + '\n';

    if (log.category == "Uart READ")
        decodeUart(log.hexBytes(), true, out);
    else if (log.category == "Uart WRITE")
        decodeUart(log.hexBytes(), false, out);
}

void LogDecoder::decodeUart(const QByteArray& bytes, bool read, QByteArray* out)
{
    FrameSplitter& splitter = read ? fromShield : fromDriver;
    const QByteArray direction = kIndent + paint(kCyan, read ? "shield→driver" : "driver→shield") + "  ";
    pieces.clear();
    splitter.push(bytes, &pieces);
    // The driver logs each frame it writes on a line of its own, so a write
    // is judged alone; what it reads comes as the port hands it over.
    if (!read)
        splitter.finish(&pieces);
    for (const FrameSplitter::Piece& piece : pieces) {
        *out += direction;
        if (piece.kind == FrameSplitter::Piece::Frame)
            *out += FrameDecoder::describe(piece.bytes, opts.colour);
        else
            *out += paint(kYellow, "junk " + piece.bytes.toHex(' ').toUpper());
        *out += '\n';
    }
    // Ten or more waiting bytes start with a frame whose checksum fails so
    // far: the next read tells whether a good frame starts inside them.
    const int waiting = splitter.pending();
    if (waiting > 0) {
        *out += direction
            + paint(kDim, QByteArray::number(waiting)
                        + (waiting < FRAME_SIZE ? " bytes wait for the rest" : " bytes wait for the next read (bad checksum so far)"))
            + '\n';
    }
}
