#ifndef SESSIONPLAYER_H
#define SESSIONPLAYER_H

#include "rig/childprocess.h"
#include "session.h"

#include <QObject>
#include <QTimer>
#include <functional>

// Replays a session: the simulator plays the shield's side and compares the
// driver's frames; this gives the driver the parent's lines at their moments,
// counted, like the simulator's clock, from the driver's first frame.
class SessionPlayer : public QObject
{
public:
    struct Settings {
        QString sessionPath;
        QString simPath;
        QString driverPath;
        // Put before the simulator and the driver (e.g. qemu-user, to replay
        // against a build for the board); empty to run them directly.
        QStringList emulator;
        double speed = 1.0;
        int toleranceMs = 250;
        bool verbose = false;
    };

    SessionPlayer(const Session& session, const Settings& settings, QObject* parent = nullptr);
    void start();

    // Called once with the exit code: the simulator's verdict.
    std::function<void(int)> onFinished;

private:
    void simLine(const QByteArray& line);
    void startDriver(const QByteArray& port);
    void giveDue();
    qint64 sinceOrigin() const; // ms at replay speed; -1 before the origin
    void end(int code);

    Session session;
    Settings settings;
    rig::ChildProcess sim;
    rig::ChildProcess driver;
    QByteArray port;
    qint64 originMonotonicMs = -1;
    QList<qint64> lineAtMs; // each parent line's time from the recorded origin
    QTimer lineTimer;
    QTimer guard;
    int nextLine = 0;
    bool driverStarted = false;
    bool ended = false;
};

#endif
