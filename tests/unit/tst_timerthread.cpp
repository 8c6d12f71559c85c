// The worker thread with its own periodic timer: where it ticks, how its
// period changes, and that it stops; and the main loop's quit on request.

#include "utils/signalwatcher.h"
#include "utils/timerthread.h"

#include <QtTest>
#include <atomic>

namespace {
class CountingTimer : public TimerThread
{
public:
    explicit CountingTimer(uint32_t ms) : TimerThread(ms) {}
    ~CountingTimer() override
    {
        stopLoop();
        waitStopped();
    }

    std::atomic<int> ticks{0};
    std::atomic<int> ticksOutsideWorker{0};
    std::atomic<QThread*> tickThread{nullptr};

    // Valid once a period change has returned (it synchronises with the worker).
    int interval() const { return period(); }

private:
    void slotTimeOut() override
    {
        QThread* current = QThread::currentThread();
        tickThread = current;
        if (current != this)
            ++ticksOutsideWorker;
        ++ticks;
    }
};

// Ticks counted over a window; the event loop of the main thread keeps running.
int ticksDuring(CountingTimer& t, int ms)
{
    const int before = t.ticks;
    QTest::qWait(ms);
    return t.ticks - before;
}
}

class TstTimerThread : public QObject
{
    Q_OBJECT

private slots:
    void notStartedNeverTicks();
    void ticksInWorkerThread();
    void periodChangeAfterStartTakesEffect();
    void periodChangeBeforeStartIsIgnored();
    void quitStopsTicks();
    void periodChangeAfterLoopEndedReturnsAtOnce();
    void periodChangeRacingQuitNeverHangs();
    void quitRequestEndsLoopWithoutSignalWatcher();
};

void TstTimerThread::notStartedNeverTicks()
{
    CountingTimer t(5);
    QCOMPARE(ticksDuring(t, 300), 0);
}

void TstTimerThread::ticksInWorkerThread()
{
    CountingTimer t(5);
    t.start();
    QVERIFY(QTest::qWaitFor([&] { return t.ticks >= 5; }, 5000));
    QCOMPARE(t.ticksOutsideWorker.load(), 0);
    QVERIFY(t.tickThread.load() != QThread::currentThread());
}

void TstTimerThread::periodChangeAfterStartTakesEffect()
{
    CountingTimer t(200);
    t.start();
    QVERIFY(QTest::qWaitFor([&] { return t.ticks >= 1; }, 5000));
    const int slow = ticksDuring(t, 1000); // about 5

    t.slotChangeSpiPeriod(10);
    QCOMPARE(t.interval(), 10); // restarted before the call returned
    const int fast = ticksDuring(t, 1000); // about 100
    QVERIFY2(slow <= 12, qPrintable(QString::number(slow)));
    QVERIFY2(fast >= 25 && fast > 3 * slow, qPrintable(QString("%1 vs %2").arg(fast).arg(slow)));
    QCOMPARE(t.ticksOutsideWorker.load(), 0);
}

void TstTimerThread::periodChangeBeforeStartIsIgnored()
{
    CountingTimer t(300);
    t.slotChangeSpiPeriod(10);
    t.start();
    const int ticks = ticksDuring(t, 1500); // about 5 at 300 ms, 150 at 10 ms
    QVERIFY2(ticks >= 1 && ticks <= 15, qPrintable(QString::number(ticks)));
    QCOMPARE(t.interval(), 300);
}

void TstTimerThread::quitStopsTicks()
{
    CountingTimer t(5);
    t.start();
    QVERIFY(QTest::qWaitFor([&] { return t.ticks >= 3; }, 5000));
    t.stopLoop();
    QVERIFY(t.waitStopped(5000));
    QCOMPARE(ticksDuring(t, 200), 0);
}

void TstTimerThread::periodChangeAfterLoopEndedReturnsAtOnce()
{
    CountingTimer t(5);
    t.start();
    QVERIFY(QTest::qWaitFor([&] { return t.ticks >= 1; }, 5000));
    t.stopLoop();
    QVERIFY(t.waitStopped(5000));
    QElapsedTimer e;
    e.start();
    t.slotChangeSpiPeriod(10); // a hang here ends in the test's timeout
    QVERIFY2(e.elapsed() < 1000, qPrintable(QString::number(e.elapsed())));
    QCOMPARE(ticksDuring(t, 100), 0);
}

void TstTimerThread::periodChangeRacingQuitNeverHangs()
{
    // The change may land while the loop is ending; it must neither block
    // forever nor keep the thread from finishing.
    for (int round = 0; round < 30; ++round) {
        CountingTimer t(2);
        t.start();
        QVERIFY(QTest::qWaitFor([&] { return t.ticks >= 1; }, 5000));
        t.quit();
        t.slotChangeSpiPeriod(3);
        t.slotChangeSpiPeriod(4);
        QVERIFY(t.waitStopped(5000));
    }
}

void TstTimerThread::quitRequestEndsLoopWithoutSignalWatcher()
{
    // End of input asks for the quit; with no watcher thread to carry it
    // (never started here) the main loop must still end.
    QTimer watchdog;
    watchdog.setSingleShot(true);
    connect(&watchdog, &QTimer::timeout, [] { QCoreApplication::exit(2); });
    watchdog.start(5000);
    QTimer::singleShot(0, [] { SignalWatcher::requestQuit(); });
    QCOMPARE(QCoreApplication::exec(), 0);
}

QTEST_GUILESS_MAIN(TstTimerThread)
#include "tst_timerthread.moc"
