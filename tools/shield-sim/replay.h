#ifndef REPLAY_H
#define REPLAY_H

#include "commands/receivestream.h"

#include <QElapsedTimer>
#include <QTimer>

struct Options;

namespace rig {
class ShieldPty;
}

// Plays the shield's side of a saved session to the driver and compares the
// frames the driver writes with the recorded ones, in order and in time.
// The clock starts at the driver's first frame, which stands for the first
// recorded one: the driver's start-up takes a different time on every run.
// What the shield sent after a frame of the driver goes out that long after
// the driver's frame really came (never before its recorded time), so an
// answer never overtakes the command it answers.
class Replay : public QObject
{
public:
    // Plays at --speed; a frame may be --tolerance ms off its time.
    Replay(rig::ShieldPty* line, const Options& opts);

    // Reads the "Uart READ" and "Uart WRITE" lines of a saved log.
    bool load(const QString& path, QString* error);
    // Prints the session's line; once the driver's first frame is here, the
    // origin's; at the end the verdict's, and quits the application.
    void start();
    // Finished, and the driver wrote what the recording holds.
    bool passed() const { return done && summary.passed(); }

private:
    struct Summary {
        int matched = 0;
        int missing = 0;
        int extra = 0;
        int mistimed = 0;
        qint64 junkBytes = 0;
        QByteArray firstDifference;
        bool passed() const { return missing == 0 && extra == 0 && mistimed == 0 && junkBytes == 0; }
    };
    struct Expected {
        qint64 atMs; // since the first recorded frame, at replay speed
        QByteArray bytes;
        qint64 cameAtMs = -1; // when the driver wrote it; -1 not (yet)
        bool settled = false; // matched, or given up as missing
    };
    struct Chunk {
        qint64 atMs;
        QByteArray bytes;
        int after = -1; // the last recorded frame of the driver before it
        qint64 gapMs = 0; // how long after that frame
    };

    void driverBytes(const QByteArray& bytes);
    void driverFrame(const QByteArray& frame, qint64 atMs);
    qint64 dueAt(const Chunk& chunk) const; // -1: not yet known
    void step();
    void schedule();
    void settle(int index, qint64 cameAtMs);
    void differ(const QByteArray& text);
    void finish();
    qint64 now() const { return clock.elapsed(); }

    rig::ShieldPty* line;
    const Options& opts;
    QList<Chunk> reads;
    QList<Expected> expected;
    double origin = 0;
    int nextRead = 0;
    int nextExpected = 0;
    qint64 endMs = 0;
    bool running = false;
    bool done = false;
    QElapsedTimer clock;
    QTimer timer;
    ReceiveStream fromDriver{ReceiveStream::kDefaultMaxPending, true}; // keeps its junk for the summary
    Summary summary;
};

#endif
