#include "logdecoder.h"

#include "commands/commandtesk.h"
#include "framedecoder.h"
#include "gloss.h"
#include "log/logline.h"

#include <limits>

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

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}
}

const QList<QByteArray>& LogDecoder::categories()
{
    // LogService's sources: it drops lines under any other.
    static const QList<QByteArray> list{"main", "Controller", "Uart WRITE", "Uart READ", "Console"};
    return list;
}

QString LogDecoder::refusal(const QList<QByteArray>& only)
{
    for (const QByteArray& c : only) {
        if (!categories().contains(c))
            return QStringLiteral("no category \"%1\": the driver logs under main, Controller, \"Uart WRITE\", "
                                  "\"Uart READ\" and Console")
                .arg(QString::fromUtf8(c));
    }
    return QString();
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

void LogDecoder::decode(const QByteArray& text, double time, Out out)
{
    const QByteArray line = LogLine::withoutLineEnd(text);
    const qint64 receivedMs = time > 0 ? DriverClock::toMs(time) : -1;
    latestReceiptMs = qMax(latestReceiptMs, receivedMs);
    // Until the driver's zone is known, lines known by their receive time
    // wait for it (a session's first lines come before the first log line).
    const qint64 settled = clock.knowsZone() && latestReceiptMs >= 0 ? latestReceiptMs - Order::kLateMs
                                                                     : std::numeric_limits<qint64>::min();
    auto asItCame = [&] {
        if (out.text)
            *out.text += line + '\n';
        else
            out.entries->append(Entry{QByteArray(), {line + '\n', QByteArray(), QByteArray(), line}});
    };
    LogLine log;
    // Lines that are not log lines (a parent's console lines of a session
    // file, anything else) are shown only when no category is chosen.
    if (!LogLine::parse(line, &log)) {
        if (!opts.only.isEmpty() || line.isEmpty())
            return;
        if (opts.raw) {
            asItCame();
            return;
        }
        QByteArray rest;
        if (line.startsWith("> ")) {
            rest = ' ' + paint(kMagenta, "parent> " + line.mid(2)) + '\n';
        } else {
            const QByteArray gloss = Gloss::of(line);
            rest = ' ' + (gloss.isEmpty() ? line : line.trimmed() + "  " + paint(kDim, '(' + gloss + ')')) + '\n';
        }
        const Shown other{rest, QByteArray(), QByteArray(), line};
        if (receivedMs >= 0)
            order.addReceived(receivedMs, other);
        else
            order.addInPlace(QByteArray(), other);
        print(settled, out);
        return;
    }
    if (!wanted(log.category))
        return;
    if (opts.raw) {
        asItCame();
        return;
    }

    const qint64 at = !log.clock.isEmpty() && receivedMs >= 0 ? clock.stamped(log.clock, receivedMs) : -1;
    const QByteArray key = log.level + ' ' + log.category;
    auto it = pending.find(key);
    if (it != pending.end()) {
        it->message += log.message;
        if (!log.continued || it->message.size() >= kMaxJoined)
            complete(it);
    } else if (log.continued) {
        pending.insert(key, {log.level, log.category, log.clock, log.message, order.reserve(at)});
    } else {
        const Shown rest = shown(log.level, log.category, log.message);
        if (at >= 0)
            order.addStamped(at, log.clock, rest);
        else if (log.clock.isEmpty() && receivedMs >= 0)
            order.addReceived(receivedMs, rest); // an ERROR line has no stamp
        else
            order.addInPlace(log.clock, rest);
    }
    print(settled, out);
}

void LogDecoder::release(double now, Out out)
{
    print(DriverClock::toMs(now) - Order::kLateMs, out);
}

void LogDecoder::finish(Out out)
{
    while (!pending.isEmpty())
        complete(pending.begin());
    print(std::numeric_limits<qint64>::max(), out);
}

void LogDecoder::complete(QHash<QByteArray, Pending>::iterator it)
{
    order.fill(it->ticket, it->clock, shown(it->level, it->category, it->message));
    pending.erase(it);
}

void LogDecoder::print(qint64 settledBefore, Out out)
{
    for (;;) {
        for (const Order::Line& line : order.take(settledBefore)) {
            const bool received = line.kind == Order::Line::Received;
            if (out.entries) {
                out.entries->append(Entry{received ? QByteArray() : line.clock, line.text});
                continue;
            }
            QByteArray c = received ? clock.text(line.at) : line.clock;
            if (c.isEmpty())
                c = QByteArray(12, ' ');
            *out.text += paint(kDim, c) + line.text.rest;
        }
        // A pieced line whose last piece never came holds up the lines after
        // it: shown as far as it came.
        const int ticket = order.overdueTicket(settledBefore);
        auto it = pending.begin();
        while (it != pending.end() && it->ticket != ticket)
            ++it;
        if (ticket < 0 || it == pending.end())
            return;
        complete(it);
    }
}

LogDecoder::Shown LogDecoder::shown(const QByteArray& level, const QByteArray& category, const QByteArray& message)
{
    QByteArray rest = ' ' + paint(kBold, '[' + category + ']') + ' ';
    rest += level != "Debug" ? paint(kRed, "ERROR " + message) : message;
    const QByteArray gloss = Gloss::of(message);
    if (!gloss.isEmpty()) {
        while (rest.endsWith(' '))
            rest.chop(1);
        rest += "  " + paint(kDim, '(' + gloss + ')');
    }
    rest += '\n';
    if (category == "Uart READ")
        decodeUart(message, true, &rest);
    else if (category == "Uart WRITE")
        decodeUart(message, false, &rest);
    return {rest, level, category, message};
}

void LogDecoder::decodeUart(const QByteArray& message, bool read, QByteArray* out)
{
    FrameSplitter& splitter = read ? fromShield : fromDriver;
    const QByteArray direction = kIndent + paint(kCyan, read ? "shield→driver" : "driver→shield") + "  ";
    // What to show, in order: a frame, or junk as written (hex bytes, or
    // text that is no byte), the junk in a row on one line.
    struct Shown {
        bool frame;
        QByteArray text;
    };
    QVector<Shown> shown;
    auto take = [&] {
        for (const FrameSplitter::Piece& piece : pieces) {
            const bool frame = piece.kind == FrameSplitter::Piece::Frame;
            const QByteArray text = frame ? piece.bytes : piece.bytes.toHex(' ').toUpper();
            if (!frame && !shown.isEmpty() && !shown.last().frame)
                shown.last().text += ' ' + text;
            else
                shown.append({frame, text});
        }
        pieces.clear();
    };

    // The log writes each byte as two hex digits. Anything else (a damaged
    // or hand-made line) is no byte the driver had: it is shown as it is,
    // and no frame spans it.
    pieces.clear();
    QByteArray bytes;
    const int n = message.size();
    for (int pos = 0; pos < n;) {
        if (message.at(pos) == ' ') {
            ++pos;
            continue;
        }
        int end = message.indexOf(' ', pos);
        end = end < 0 ? n : end;
        const int hi = hexValue(message.at(pos));
        const int lo = end - pos == 2 ? hexValue(message.at(pos + 1)) : -1;
        if (hi >= 0 && lo >= 0) {
            bytes += char(hi * 16 + lo);
        } else {
            splitter.push(bytes, &pieces);
            splitter.finish(&pieces);
            bytes.clear();
            take();
            const QByteArray token = message.mid(pos, end - pos);
            if (!shown.isEmpty() && !shown.last().frame)
                shown.last().text += ' ' + token;
            else
                shown.append({false, token});
        }
        pos = end;
    }
    splitter.push(bytes, &pieces);
    // The driver logs each frame it writes on a line of its own, so a write
    // is judged alone; what it reads comes as the port hands it over.
    if (!read)
        splitter.finish(&pieces);
    take();
    for (const Shown& s : shown) {
        *out += direction;
        *out += s.frame ? FrameDecoder::describe(s.text, opts.colour) : paint(kYellow, "junk " + s.text);
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
