#include "utils/timerthread.h"

#include <QCoreApplication>
#include <QDebug>
#include <QTime>

TimerThread::TimerThread(uint32_t ms)
    : QThread(nullptr), ms(ms)
{
}

void TimerThread::run()
{
    timer = new QTimer();
    timer->setTimerType(Qt::PreciseTimer);
    connect(timer, SIGNAL(timeout()), this, SLOT(slotTimeOut()), Qt::DirectConnection);
    connect(this, SIGNAL(timerStart(int)), timer, SLOT(start(int)), Qt::BlockingQueuedConnection);
    timer->start(static_cast<int>(ms));

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
    disconnect(this, SIGNAL(timerStart(int)), timer, SLOT(start(int)));
    timer->stop();
    disconnect(timer, SIGNAL(timeout()), this, SLOT(slotTimeOut()));
    delete timer;
    timer = nullptr;
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
