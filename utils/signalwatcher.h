#ifndef SIGNALWATCHER_H
#define SIGNALWATCHER_H

#include <QObject>

class QSocketNotifier;

// Turns SIGTERM, SIGINT and SIGHUP into an orderly quit of the main loop: the
// handler only writes the signal's number to a pipe, and the main thread
// reads it from there. SIGPIPE is ignored, so a write to a closed pipe is an
// error, not the end.
class SignalWatcher : public QObject
{
    Q_OBJECT
public:
    // Installs the handlers; before QCoreApplication, so nothing is missed.
    static void install();
    // Starts watching in the main loop; needs the application object.
    static SignalWatcher* start();

    // The signal that stopped the driver, or 0.
    int caught() const { return signalNumber; }
    static const char* name(int signalNumber);
    // Quits the main loop from any thread the way a signal does, but with
    // caught() staying 0. Through the pipe, so the order of what the caller
    // did before is plain to ThreadSanitizer too.
    static void requestQuit();

private slots:
    void slotReadable();

private:
    SignalWatcher();

    QSocketNotifier* notifier;
    int signalNumber = 0;
};

#endif
