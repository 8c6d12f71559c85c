#ifndef LOGDECODER_H
#define LOGDECODER_H

// Turns the driver's log lines into the lines zma-log prints: each line's
// time, category and message (English beside the driver's Russian) and,
// under a Uart line, one line per frame the serial bytes make up so far. A
// line sent in pieces (each but the last ending in a backslash) is printed
// once, joined. Every time shown is on the driver's clock, and they never
// step back (DriverClock, LineOrder). The same lines also come as entries,
// for the journal.
//
// An entry becomes, with --journal, a journal entry of these fields:
//   MESSAGE            the line as zma-log prints it after the time (English
//                      beside the Russian, the decoded frames on lines below)
//   PRIORITY           syslog's: LOG_ERR for an ERROR line or a message that
//                      starts with the word ERROR (ERROR:, ERROR CMD, the
//                      console's #ERROR:), LOG_WARNING for one that starts with
//                      WARNING; LOG_DEBUG for the serial bytes (Uart WRITE,
//                      Uart READ), the bulk of the log; LOG_INFO for the rest
//   SYSLOG_IDENTIFIER  zma-driver, so that `journalctl -t zma-driver` finds it
//   ZMA_SOURCE         the driver's category: main, Controller, Uart WRITE...
//   ZMA_LEVEL          Debug or ERROR, as the driver logged it
//   ZMA_CLOCK          the driver's own stamp, hh:mm:ss.zzz
// The last three only where the line has them.

#include "commands/framesplitter.h"
#include "driverclock.h"
#include "lineorder.h"
#include "log/logline.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

class LogDecoder
{
public:
    struct Options {
        bool colour = false;
        bool raw = false;              // the lines as they came, nothing decoded, joined or reordered
        QList<QByteArray> only;        // categories to show; empty: all lines
    };

    // Why `only` cannot be shown (a category the driver never logs), or empty.
    static QString refusal(const QList<QByteArray>& only);

    // What a line shows after its clock.
    struct Shown {
        QByteArray rest;     // as printed: a space, the text, the frame lines under it, line ends included
        QByteArray level;    // a log line's "Debug" or "ERROR"; empty for any other line
        QByteArray category; // a log line's source; empty for any other line
        QByteArray message;  // a log line's message, joined; any other line as it came
    };
    // A line shown, as an entry: coloured as Options say (none for the journal).
    struct Entry {
        QByteArray clock; // as the driver stamped it; empty when it did not
        Shown shown;
        // Each "NAME=value" of its journal entry; a value may hold line ends.
        QList<QByteArray> journalFields() const;
    };
    // Where the lines go: printed lines or entries, never mixed in one decoder.
    struct Out {
        Out(QByteArray* text) : text(text), entries(nullptr) {}
        Out(QVector<Entry>* entries) : text(nullptr), entries(entries) {}
        QByteArray* text;
        QVector<Entry>* entries;
    };

    explicit LogDecoder(const Options& options) : opts(options) {}

    // text: one line (a datagram, or a line of a file without its saved-time
    // prefix), with or without its line end. time: when it was received, in
    // seconds since the epoch, or 0 when unknown. Appends what can be
    // printed so far to out.
    void decode(const QByteArray& text, double time, Out out);
    // Live: prints what waited longer than any log line can be late, at
    // `now` (seconds since the epoch).
    void release(double now, Out out) { print(DriverClock::toMs(now) - Order::kLateMs, out); }
    // At the end of the input: prints everything still waiting.
    void finish(Out out);

private:
    using Order = LineOrder<Shown>;

    struct Pending {
        LogLine line; // its message joined so far
        int ticket;
    };

    Shown shown(const QByteArray& level, const QByteArray& category, const QByteArray& message);
    void decodeUart(const QByteArray& message, bool read, QByteArray* out);
    QByteArray describeFrame(const QByteArray& frame) const;
    QByteArray paint(const char* code, const QByteArray& text) const;
    void complete(QHash<QByteArray, Pending>::iterator it);
    void print(qint64 settledBefore, Out out);

    Options opts;
    FrameSplitter fromDriver;
    FrameSplitter fromShield;
    QVector<FrameSplitter::Piece> pieces;
    // Unfinished pieced lines by level and category: lines of other
    // categories may come between the pieces.
    QHash<QByteArray, Pending> pending;
    DriverClock clock;
    Order order;
    qint64 latestReceiptMs = -1;
};

#endif
