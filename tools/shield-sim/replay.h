#ifndef REPLAY_H
#define REPLAY_H

#include "commands/receivestream.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>

class SerialLine;

// Plays the shield's side of a saved session to the driver and compares the
// frames the driver writes with the recorded ones, in order and in time.
// The clock starts at the driver's first frame, which stands for the first
// recorded one: the driver's start-up takes a different time on every run.
class Replay : public QObject
{
public:
    struct Settings {
        double speed = 1.0;
        int toleranceMs = 250;
    };

    struct Summary {
        int expected = 0;
        int matched = 0;
        int missing = 0;
        int extra = 0;
        int mistimed = 0;
        QByteArray firstDifference;
        bool passed() const { return missing == 0 && extra == 0 && mistimed == 0; }
    };

    Replay(SerialLine* line, const Settings& settings, QObject* parent = nullptr);

    // Reads the "Uart READ" and "Uart WRITE" lines of a saved log.
    bool load(const QString& path, QString* error);
    void start();
    int expectedFrames() const { return expected.size(); }
    int chunksToSend() const { return reads.size(); }

    // Called once, when the replay is over.
    std::function<void(const Summary&)> onFinished;

private:
    struct Chunk {
        qint64 atMs; // since the first recorded frame, at replay speed
        QByteArray bytes;
    };

    void driverBytes(const QByteArray& bytes);
    void driverFrame(const QByteArray& frame, qint64 atMs);
    void step();
    void schedule();
    void differ(const QByteArray& text);
    void finish();
    qint64 now() const { return clock.elapsed(); }

    SerialLine* line;
    Settings settings;
    QList<Chunk> reads;
    QList<Chunk> expected;
    int nextRead = 0;
    int nextExpected = 0;
    qint64 endMs = 0;
    bool running = false;
    bool done = false;
    QElapsedTimer clock;
    QTimer timer;
    ReceiveStream fromDriver;
    Summary summary;
};

#endif
