#include "logdecoder.h"

#include "commands/commandtesk.h"
#include "log/logline.h"
#include "zma/dialplan.h"

#include <algorithm>
#include <cctype>
#include <limits>
#include <syslog.h>

namespace {
const char* const kDim = "\033[2m";
const char* const kBold = "\033[1m";
const char* const kRed = "\033[1;31m";
const char* const kGreen = "\033[32m";
const char* const kYellow = "\033[33m";
const char* const kCyan = "\033[36m";
const char* const kMagenta = "\033[35m";
const char* const kReset = "\033[0m";

// Under the message: the width of "hh:mm:ss.zzz ".
const QByteArray kIndent(13, ' ');
// A pieced line that never ends (its last piece lost) is printed once this long.
constexpr int kMaxJoined = 4 * 1024 * 1024;

// LogService's sources: it drops lines under any other.
const QList<QByteArray> kCategories{"main", "Controller", "Uart WRITE", "Uart READ", "Console"};

struct Glossary {
    const char* russian;
    const char* english;
};

// Every fixed Russian text the driver logs (under Controller) or writes on
// stderr (a plain log read from a pipe), as its code has it.
const Glossary kGlosses[] = {
    {"Приняты данные", "data received"},                          // Controller: a frame came
    {"Открыта дверь 1", "door 1 opened"},                         // Controller
    {"Открыта дверь 2", "door 2 opened"},                         // Controller
    {"Неизвестная команда", "unknown command"},                   // Controller
    {"Успешно открыт порт", "port opened successfully"},          // stderr, USART
    {"Ошибка открытия порта", "cannot open the port"},            // stderr, USART
    {"порт закрыт после ошибки", "port closed after an error"},   // stderr, USART
    {"Ошибка ввода квартиры", "apartment number input error"},    // stderr, console list input
    {"Переполнение буффера более чем в 10 раз!", "buffer overflow, over 10 times its size!"}, // stderr, UDP audio
};

// The English of each Russian message in text, in the order found, or empty.
QByteArray gloss(const QByteArray& text)
{
    QByteArray out;
    // Cyrillic is two bytes a letter in UTF-8, each byte 0xD0 or 0xD1 first.
    if (!text.contains('\xD0') && !text.contains('\xD1'))
        return out;
    for (const Glossary& e : kGlosses) {
        if (!text.contains(e.russian))
            continue;
        if (!out.isEmpty())
            out += "; ";
        out += e.english;
    }
    return out;
}

QByteArray hexByte(uint8_t b) { return QByteArray::number(b, 16).rightJustified(2, '0').toUpper(); }

bool startsWithWord(const QByteArray& text, const char* word)
{
    const QByteArray w(word);
    if (!text.startsWith(w))
        return false;
    return text.size() == w.size() || text.at(w.size()) == ':' || text.at(w.size()) == ' ';
}

int priority(const LogDecoder::Shown& shown)
{
    if (shown.level == "ERROR")
        return LOG_ERR;
    const QByteArray message = shown.message.startsWith('#') ? shown.message.mid(1) : shown.message;
    if (startsWithWord(message, "ERROR"))
        return LOG_ERR;
    if (startsWithWord(message, "WARNING"))
        return LOG_WARNING;
    if (shown.category.startsWith("Uart "))
        return LOG_DEBUG;
    return LOG_INFO;
}
}

QString LogDecoder::refusal(const QList<QByteArray>& only)
{
    for (const QByteArray& c : only) {
        if (!kCategories.contains(c))
            return QStringLiteral("no category \"%1\": the driver logs under main, Controller, \"Uart WRITE\", "
                                  "\"Uart READ\" and Console")
                .arg(QString::fromUtf8(c));
    }
    return QString();
}

QByteArray LogDecoder::paint(const char* code, const QByteArray& text) const
{
    return opts.colour ? code + text + kReset : text;
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
    LogLine log;
    const bool isLog = LogLine::parse(line, &log);
    // Lines that are not log lines (a parent's console lines of a session
    // file, anything else) are shown only when no category is chosen.
    if (isLog ? (!opts.only.isEmpty() && !opts.only.contains(log.category)) : (!opts.only.isEmpty() || line.isEmpty()))
        return;
    if (opts.raw) {
        if (out.text)
            *out.text += line + '\n';
        else
            out.entries->append(Entry{QByteArray(), {line + '\n', QByteArray(), QByteArray(), line}});
        return;
    }
    if (!isLog) {
        QByteArray rest;
        if (line.startsWith("> ")) {
            rest = ' ' + paint(kMagenta, "parent> " + line.mid(2)) + '\n';
        } else {
            const QByteArray english = gloss(line);
            rest = ' ' + (english.isEmpty() ? line : line.trimmed() + "  " + paint(kDim, '(' + english + ')')) + '\n';
        }
        const Shown other{rest, QByteArray(), QByteArray(), line};
        if (receivedMs >= 0)
            order.addReceived(receivedMs, other);
        else
            order.addInPlace(QByteArray(), other);
        print(settled, out);
        return;
    }

    const qint64 at = !log.clock.isEmpty() && receivedMs >= 0 ? clock.stamped(log.clock, receivedMs) : -1;
    const QByteArray key = log.level + ' ' + log.category;
    auto it = pending.find(key);
    if (it != pending.end()) {
        it->line.message += log.message;
        if (!log.continued || it->line.message.size() >= kMaxJoined)
            complete(it);
    } else if (log.continued) {
        pending.insert(key, {log, order.reserve(at)});
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

void LogDecoder::finish(Out out)
{
    while (!pending.isEmpty())
        complete(pending.begin());
    print(std::numeric_limits<qint64>::max(), out);
}

void LogDecoder::complete(QHash<QByteArray, Pending>::iterator it)
{
    order.fill(it->ticket, it->line.clock, shown(it->line.level, it->line.category, it->line.message));
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
        const auto it =
            std::find_if(pending.begin(), pending.end(), [ticket](const Pending& p) { return p.ticket == ticket; });
        if (ticket < 0 || it == pending.end())
            return;
        complete(it);
    }
}

LogDecoder::Shown LogDecoder::shown(const QByteArray& level, const QByteArray& category, const QByteArray& message)
{
    QByteArray rest = ' ' + paint(kBold, '[' + category + ']') + ' ';
    rest += level != "Debug" ? paint(kRed, "ERROR " + message) : message;
    const QByteArray english = gloss(message);
    if (!english.isEmpty()) {
        while (rest.endsWith(' '))
            rest.chop(1);
        rest += "  " + paint(kDim, '(' + english + ')');
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
    auto add = [&](bool frame, const QByteArray& text) {
        if (!frame && !shown.isEmpty() && !shown.last().frame)
            shown.last().text += ' ' + text;
        else
            shown.append({frame, text});
    };
    auto take = [&] {
        for (const FrameSplitter::Piece& piece : pieces) {
            const bool frame = piece.kind == FrameSplitter::Piece::Frame;
            add(frame, frame ? piece.bytes : piece.bytes.toHex(' ').toUpper());
        }
        pieces.clear();
    };

    // The log writes each byte as two hex digits. Anything else (a damaged
    // or hand-made line) is no byte the driver had: it is shown as it is,
    // and no frame spans it.
    pieces.clear();
    QByteArray bytes;
    for (const QByteArray& token : message.split(' ')) {
        if (token.size() == 2 && isxdigit(uchar(token.at(0))) && isxdigit(uchar(token.at(1)))) {
            bytes += QByteArray::fromHex(token);
        } else if (!token.isEmpty()) {
            splitter.push(bytes, &pieces);
            splitter.finish(&pieces);
            bytes.clear();
            take();
            add(false, token);
        }
    }
    splitter.push(bytes, &pieces);
    // The driver logs each frame it writes on a line of its own, so a write
    // is judged alone; what it reads comes as the port hands it over.
    if (!read)
        splitter.finish(&pieces);
    take();
    for (const Shown& s : shown) {
        *out += direction;
        *out += s.frame ? describeFrame(s.text) : paint(kYellow, "junk " + s.text);
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

// One frame, through the driver's own codec:
//   to 48 from 65  cmd  CMD_DIAL  data 0C 00 2A 00 FF  apartment 12 (gate form 4212)  crc ok
QByteArray LogDecoder::describeFrame(const QByteArray& frame) const
{
    // The driver's decoder computes the checksum into crc instead of keeping
    // the one received: it is the expected one.
    const CommandTESK cmd(frame);
    const uint8_t received = frame.size() > 9 ? static_cast<uint8_t>(frame.at(9)) : 0;
    QByteArray out;
    out.reserve(96);
    out += "to " + hexByte(static_cast<uint8_t>(frame.at(1)));
    out += " from " + hexByte(static_cast<uint8_t>(frame.at(2)));
    out += cmd.mode == MODE_LINK ? "  link " : "  cmd  ";
    const char* name = commandName(cmd.cmd);
    out += paint(kBold, name ? QByteArray(name) : "cmd=0x" + hexByte(cmd.cmd));
    out += "  data " + cmd.data.toHex(' ').toUpper();
    if (cmd.cmd == CMD_DIAL) {
        // Both forms: the log does not say which one the driver runs with.
        out += "  apartment " + QByteArray::number(DialPlan::calcDial(&cmd.data));
        out += " (gate form " + QByteArray::number(DialPlan::calcDialGatesMode(&cmd.data)) + ')';
    }
    if (cmd.crc == received)
        out += "  " + paint(kGreen, "crc ok");
    else
        out += "  " + paint(kRed, "crc BAD (expected " + hexByte(cmd.crc) + ')');
    return out;
}

QList<QByteArray> LogDecoder::Entry::journalFields() const
{
    QByteArray message = shown.rest.startsWith(' ') ? shown.rest.mid(1) : shown.rest;
    while (message.endsWith('\n'))
        message.chop(1);
    QList<QByteArray> out{"MESSAGE=" + message, "PRIORITY=" + QByteArray::number(priority(shown)),
                          "SYSLOG_IDENTIFIER=zma-driver"};
    if (!shown.category.isEmpty())
        out << "ZMA_SOURCE=" + shown.category << "ZMA_LEVEL=" + shown.level;
    if (!clock.isEmpty())
        out << "ZMA_CLOCK=" + clock;
    return out;
}
