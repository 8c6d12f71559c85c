#ifndef TIMERTHREAD_H
#define TIMERTHREAD_H

#include <QThread>
#include <QTimer>
#include <atomic>
#include <climits>
#include <cstdint>
#include <mutex>

// A thread that runs a precise periodic tick in its own event loop and calls
// slotTimeOut() on every tick, in that thread. The tick is a timerfd on an
// absolute schedule: Qt's timers round each wait to whole milliseconds,
// which costs the audio clock about a millisecond of jitter. Without a
// timerfd, a Qt::PreciseTimer ticks instead.
class TimerThread : public QThread
{
    Q_OBJECT
public:
    explicit TimerThread(uint32_t ms);

signals:
    void timerStart(int ms);

public slots:
    // Restarts the worker's timer with a new period and waits until it has.
    // Does nothing before the worker runs or after its loop has ended.
    void slotChangeSpiPeriod(int ms);
    // Ends the loop. Ordered by loopMutex against the loop's start, which
    // also shows ThreadSanitizer that the thread's wake-up descriptor exists.
    void stopLoop();
    // QThread::wait(), then the loop's mutex: run() lets it go last, so the
    // end of the thread is ordered before what the caller does next (deleting
    // it, say), visibly to ThreadSanitizer too.
    bool waitStopped(unsigned long ms = ULONG_MAX);

    // The period in force, ms; the constructor's until a change is served.
    int period() const { return periodMs.load(); }

private:
    void run() override;
    // The queued call that carries a new period into the loop, named so
    // that ThreadSanitizer can be told about Qt's hand-over inside it.
    void handOverPeriod(int ms);
    // In the worker thread: (re)starts the tick with period ms.
    void startTick(int ms);

private slots:
    virtual void slotTimeOut();

protected:
    QTimer* timer = nullptr; // only when there is no timerfd
    uint32_t ms;

private:
    // Orders a period change against the start and the end of the loop.
    std::mutex loopMutex;
    bool loopRunning = false;
    int tickFd = -1; // the worker's timerfd
    std::atomic<int> periodMs;
};

#endif
