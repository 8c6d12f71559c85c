#include "utils/signalwatcher.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {
int pipeFds[2] = {-1, -1};
// Set once the main loop watches the pipe.
std::atomic<bool> watching{false};

void onSignal(int signalNumber)
{
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    (void)!::write(pipeFds[1], &byte, 1);
    errno = saved;
}
}

void SignalWatcher::install()
{
    std::signal(SIGPIPE, SIG_IGN);
    // Without the pipe the handlers could not be heard: keep the defaults.
    if (pipeFds[0] >= 0 || ::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int s : {SIGTERM, SIGINT, SIGHUP})
        sigaction(s, &action, nullptr);
}

SignalWatcher* SignalWatcher::start()
{
    return new SignalWatcher();
}

SignalWatcher::SignalWatcher()
    : QObject(nullptr), notifier(nullptr)
{
    if (pipeFds[0] < 0)
        return; // no pipe: the default actions stay in force
    notifier = new QSocketNotifier(pipeFds[0], QSocketNotifier::Read, this);
    connect(notifier, SIGNAL(activated(int)), this, SLOT(slotReadable()), Qt::DirectConnection);
    watching = true;
}

void SignalWatcher::requestQuit()
{
    if (pipeFds[1] >= 0 && watching.load()) {
        onSignal(0);
        return;
    }
    QMetaObject::invokeMethod(QCoreApplication::instance(), "quit", Qt::QueuedConnection);
}

void SignalWatcher::slotReadable()
{
    unsigned char byte = 0;
    bool quit = false;
    while (::read(pipeFds[0], &byte, 1) == 1) {
        quit = true;
        if (signalNumber == 0)
            signalNumber = byte;
    }
    if (quit)
        QCoreApplication::quit();
}

const char* SignalWatcher::name(int signalNumber)
{
    switch (signalNumber) {
    case SIGTERM:
        return "SIGTERM";
    case SIGINT:
        return "SIGINT";
    case SIGHUP:
        return "SIGHUP";
    default:
        return "unknown";
    }
}
