#ifndef SESSIONRECORDER_H
#define SESSIONRECORDER_H

#include "sessionplayer.h"

#include <QElapsedTimer>

// Records a session from a script: zma-log saves the driver's log while the
// script's lines go to the simulator and, as the parent's, to the driver.
// Script lines: "args ARGS..." (the driver's), "MS sim COMMAND",
// "MS parent LINE", "MS end"; MS counts from the driver's start.
class SessionRecorder : public QObject
{
public:
    using Settings = SessionPlayer::Settings;
    explicit SessionRecorder(const Settings& settings);
    bool load(QString* error);
    void start();

    std::function<void(int)> onFinished;

private:
    struct Step {
        qint64 atMs;
        QByteArray target; // "sim", "parent" or "end"
        QByteArray text;
    };

    void startDriver(const QByteArray& port);
    void runDue();
    bool halt(); // false when already stopping
    void stop();
    void fail(const QByteArray& why);
    bool writeSession(QString* error);
    void note(const QByteArray& prefix, const QByteArray& text);

    Settings settings;
    QStringList driverArgs;
    QList<Step> steps;
    int nextStep = 0;
    rig::ChildProcess zmaLog;
    rig::ChildProcess sim;
    rig::ChildProcess driver;
    qint64 kernelDropped = -1; // as zma-log reports at its exit
    QList<QByteArray> beside; // the parent's and the driver's lines, saved
    QElapsedTimer clock;
    QTimer stepTimer;
    QTimer guard;
    bool listening = false;
    bool stopping = false;
};

#endif
