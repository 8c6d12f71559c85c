#include "utils/timerthread.h"

#include <QCoreApplication>
#include <QDebug>
#include <QSocketNotifier>
#include <QTime>
#include <cstdint>
#include <sys/timerfd.h>
#include <unistd.h>

TimerThread::TimerThread(uint32_t ms)
    : QThread(nullptr), ms(ms), periodMs(int(ms))
{
}

void TimerThread::startTick(int ms)
{
    periodMs = ms;
    if (timer) {
        timer->start(ms);
        return;
    }
    // Absolute expiries a period apart: a late wake-up does not shift the rest.
    itimerspec expiry{};
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const long long periodNs = (long long)ms * 1000000;
    expiry.it_interval.tv_sec = time_t(periodNs / 1000000000);
    expiry.it_interval.tv_nsec = long(periodNs % 1000000000);
    const long long firstNs = (long long)now.tv_sec * 1000000000 + now.tv_nsec + periodNs;
    expiry.it_value.tv_sec = time_t(firstNs / 1000000000);
    expiry.it_value.tv_nsec = long(firstNs % 1000000000);
    timerfd_settime(tickFd, TFD_TIMER_ABSTIME, &expiry, nullptr);
}

void TimerThread::run()
{
    // Belongs to this thread: it serves the period changes here.
    QObject ticker;
    QSocketNotifier* notifier = nullptr;
    tickFd = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
    if (tickFd >= 0) {
        notifier = new QSocketNotifier(tickFd, QSocketNotifier::Read);
        connect(notifier, &QSocketNotifier::activated, this, [this] {
            // One tick however many expired: a late one is not made up twice.
            uint64_t expired = 0;
            if (::read(tickFd, &expired, sizeof(expired)) == sizeof(expired))
                slotTimeOut();
        }, Qt::DirectConnection);
    } else {
        timer = new QTimer();
        timer->setTimerType(Qt::PreciseTimer);
        connect(timer, SIGNAL(timeout()), this, SLOT(slotTimeOut()), Qt::DirectConnection);
    }
    connect(this, &TimerThread::timerStart, &ticker, [this](int ms) { startTick(ms); },
            Qt::BlockingQueuedConnection);
    startTick(static_cast<int>(ms));

    {
        std::lock_guard<std::mutex> lock(loopMutex);
        loopRunning = true;
    }
    exec();

    // A caller may hold loopMutex while it waits for its blocking call to be
    // served; serve pending calls until we get the mutex, so it cannot hang.
    while (!loopMutex.try_lock()) {
        QCoreApplication::sendPostedEvents();
        QThread::msleep(1);
    }
    loopRunning = false;
    disconnect(this, &TimerThread::timerStart, &ticker, nullptr);
    if (timer) {
        timer->stop();
        disconnect(timer, SIGNAL(timeout()), this, SLOT(slotTimeOut()));
        delete timer;
        timer = nullptr;
    }
    delete notifier;
    if (tickFd >= 0) {
        ::close(tickFd);
        tickFd = -1;
    }
    // Last: waitStopped() takes the mutex after this.
    loopMutex.unlock();
}

bool TimerThread::waitStopped(unsigned long ms)
{
    const bool stopped = wait(ms);
    std::lock_guard<std::mutex> lock(loopMutex);
    return stopped;
}

void TimerThread::slotChangeSpiPeriod(int ms)
{
    std::lock_guard<std::mutex> lock(loopMutex);
    if (!loopRunning)
        return;
    handOverPeriod(ms);
}

void TimerThread::handOverPeriod(int ms)
{
    emit timerStart(ms);
}

void TimerThread::stopLoop()
{
    std::lock_guard<std::mutex> lock(loopMutex);
    quit();
}

void TimerThread::slotTimeOut()
{
    qDebug().noquote() << QTime::currentTime().toString();
}
