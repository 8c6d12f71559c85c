#ifndef SIGNALWATCHER_H
#define SIGNALWATCHER_H

#include <QObject>

// Turns SIGTERM, SIGINT and SIGHUP into an orderly quit of the main loop: the
// handler only writes the signal's number to a pipe, and a thread of its own
// waits on the pipe and asks the main loop to quit (the main loop's 1 ms
// ticks need not poll it). SIGPIPE is ignored, so a write to a closed pipe is
// an error, not the end.
class SignalWatcher : public QObject
{
    Q_OBJECT
public:
    // Installs the handlers; before QCoreApplication, so nothing is missed.
    static void install();
    // Starts watching; needs the application object. Once, for the life of
    // the process.
    static SignalWatcher* start();

    // The signal that stopped the driver, or 0. Read after the main loop
    // has ended, it also orders what the quit's requester did before.
    int caught() const;
    static const char* name(int signalNumber);
    // Quits the main loop from any thread the way a signal does, but with
    // caught() staying 0. Through the pipe, so the order of what the caller
    // did before is plain to ThreadSanitizer too.
    static void requestQuit();

private:
    SignalWatcher() = default;
    // The watcher thread: reads the pipe, notes the first signal, asks once.
    static void watch();
    // Posts the quit to the main loop, a hand-over inside Qt; in a function
    // of its own so that ThreadSanitizer can be told of it by name. Both out
    // of line: the sanitizer names a frame by the call it makes into ours,
    // and inlined into watch() the name was gone.
    __attribute__((noinline)) static void handOverQuit();
    __attribute__((noinline)) static void postQuit();
};

#endif
