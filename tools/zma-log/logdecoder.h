#ifndef LOGDECODER_H
#define LOGDECODER_H

// Turns the driver's log lines into the lines zma-log prints: each line's
// time, category and message and, under a Uart line, one line per frame the
// serial bytes make up so far. A line sent in pieces (each but the last
// ending in a backslash) is printed once, joined.

#include "framesplitter.h"

#include <QByteArray>
#include <QHash>
#include <QList>

class LogDecoder
{
public:
    struct Options {
        bool colour = false;
        bool raw = false;              // the lines as they came, nothing decoded or joined
        QList<QByteArray> only;        // categories to show; empty: all lines
    };

    explicit LogDecoder(const Options& options);

    // text: one line (a datagram, or a line of a file without its saved-time
    // prefix), with or without its line end. time: when it was received, in
    // seconds since the epoch, or 0 when unknown; shown for lines without a
    // clock of their own. Appends what to print to out.
    void decode(const QByteArray& text, double time, QByteArray* out);

private:
    struct Pending {
        QByteArray clock;
        QByteArray message;
    };

    bool wanted(const QByteArray& category) const;
    void decodeUart(const QByteArray& message, bool read, QByteArray* out);
    QByteArray paint(const char* code, const QByteArray& text) const;

    Options opts;
    FrameSplitter fromDriver;
    FrameSplitter fromShield;
    QVector<FrameSplitter::Piece> pieces;
    // Unfinished pieced lines by level and category: lines of other
    // categories may come between the pieces.
    QHash<QByteArray, Pending> pending;
};

#endif
