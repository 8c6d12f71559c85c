#ifndef LOGLINE_H
#define LOGLINE_H

#include <QByteArray>

// One line of the driver's UDP log, taken apart, for the tools that read it:
//   [Debug][hh:mm:ss.zzz] [Category]: message\r\n
//   [ERROR] [Category]: message
// A line too long for one datagram comes as several, each but the last
// ending in the continuation mark.
struct LogLine {
    QByteArray level;    // "Debug" or "ERROR"
    QByteArray clock;    // "hh:mm:ss.zzz"; empty on ERROR lines
    QByteArray category; // "Uart READ", "Controller", ...
    QByteArray message;  // without the line end and the continuation mark
    bool continued = false;

    // Ends each piece of a line too long for one datagram but the last.
    static constexpr char kContinuationMark = '\\';

    // False for anything not in the log's format.
    static bool parse(const QByteArray& raw, LogLine* out);
    // The bytes of a "Uart READ"/"Uart WRITE" message.
    QByteArray hexBytes() const;
    // The text without its line end (LF, CR LF, or any run of them).
    static QByteArray withoutLineEnd(QByteArray s);
};

// A line of a saved log: the time it was received, in seconds since the
// epoch, a tab, and the line as it came (its line end dropped). Lines whose
// text starts with "> " are the parent's console lines of a session.
struct SavedLine {
    double time = 0;
    QByteArray text;

    static bool parse(const QByteArray& line, SavedLine* out);
    static QByteArray format(double time, const QByteArray& text);
    bool isParentLine() const { return text.startsWith("> "); }
    QByteArray parentLine() const { return text.mid(2); }
};

#endif
