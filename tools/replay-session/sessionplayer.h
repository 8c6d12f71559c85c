#ifndef SESSIONPLAYER_H
#define SESSIONPLAYER_H

#include "log/logline.h"
#include "rig/childprocess.h"

#include <QObject>
#include <QProcessEnvironment>
#include <QTimer>
#include <functional>

// Replays a recorded session: a saved driver log with the parent's console
// lines beside it, and the driver's arguments in a "# args:" comment. The
// simulator reads the log, plays the shield's side and compares the driver's
// frames; this gives the driver the parent's lines at their moments,
// counted, like the simulator's clock, from the driver's first frame.
class SessionPlayer : public QObject
{
public:
    // What replay-session was asked to do; the recorder's too.
    struct Settings {
        QString sessionPath; // to replay, or to record
        QString simPath;
        QString driverPath;
        QString zmaLogPath; // --record only
        QString scriptPath; // --record only
        // Put before the simulator and the driver (e.g. qemu-user, to replay
        // against a build for the board); empty to run them directly.
        QStringList emulator;
        double speed = 1.0;
        int toleranceMs = 250;
        bool verbose = false;
    };

    explicit SessionPlayer(const Settings& settings);
    // Refuses what is no session: a plain log, or a log saved live with
    // nothing of the parent's beside it.
    bool load(QString* error);
    // Removes the first parent line `text`; false when there is none.
    bool leaveOut(const QByteArray& text);
    void start();

    // The driver's board library talks to the simulator's port, and SPI is
    // the stand-in's loopback.
    static QProcessEnvironment driverEnvironment(const QByteArray& port);

    // Called once with the exit code: the simulator's verdict.
    std::function<void(int)> onFinished;

private:
    void startDriver();
    void giveDue();
    void end(int code);

    Settings settings;
    QStringList driverArgs;
    QList<SavedLine> parentLines; // as saved: seconds since the epoch, "> LINE"
    rig::ChildProcess sim;
    rig::ChildProcess driver;
    QByteArray port; // the simulator's, for the driver
    qint64 originMonotonicMs = -1;
    QList<qint64> lineAtMs; // each parent line's time from the recorded origin
    QTimer lineTimer;
    QTimer guard;
    int nextLine = 0;
    bool driverStarted = false;
    bool ended = false;
};

#endif
