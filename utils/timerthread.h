#ifndef TIMERTHREAD_H
#define TIMERTHREAD_H

#include <QThread>
#include <QTimer>
#include <cstdint>
#include <mutex>

// A thread that runs a precise periodic timer in its own event loop and calls
// slotTimeOut() on every tick, in that thread.
class TimerThread : public QThread
{
    Q_OBJECT
public:
    explicit TimerThread(uint32_t ms);
    ~TimerThread() override;

signals:
    void timerStart(int ms);

public slots:
    // Restarts the worker's timer with a new period and waits until it has.
    // Does nothing before the worker runs or after its loop has ended.
    void slotChangeSpiPeriod(int ms);
    // Ends the loop. Ordered by loopMutex against the loop's start, which
    // also shows ThreadSanitizer that the thread's wake-up descriptor exists.
    void stopLoop();

private:
    void run() override;
    // The queued call that carries a new period into the loop, named so
    // that ThreadSanitizer can be told about Qt's hand-over inside it.
    void handOverPeriod(int ms);

private slots:
    virtual void slotTimeOut();

protected:
    QTimer* timer = nullptr;
    uint32_t ms;

private:
    // Orders a period change against the start and the end of the loop.
    std::mutex loopMutex;
    bool loopRunning = false;
};

#endif
