#include "utils/signalwatcher.h"
#include "utils/threadsetup.h"

#include <QCoreApplication>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

namespace {
int pipeFds[2] = {-1, -1};
// Set once the watcher thread runs.
std::atomic<bool> watching{false};
// The first signal's number; stays 0 for a quit asked by requestQuit().
std::atomic<int> caughtSignal{0};

void onSignal(int signalNumber)
{
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    (void)!::write(pipeFds[1], &byte, 1);
    errno = saved;
}
}

void SignalWatcher::handOverQuit()
{
    postQuit();
}

void SignalWatcher::postQuit()
{
    QMetaObject::invokeMethod(QCoreApplication::instance(), "quit", Qt::QueuedConnection);
}

void SignalWatcher::watch()
{
    ThreadSetup::name("zma-signals");
    bool quitAsked = false;
    for (;;) {
        unsigned char byte = 0;
        const ssize_t n = ::read(pipeFds[0], &byte, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n != 1)
            return;
        // A release either way: main() reads the number once the loop has
        // ended, and so sees what the requester did before it wrote the pipe.
        int none = 0;
        if (byte != 0)
            caughtSignal.compare_exchange_strong(none, byte, std::memory_order_acq_rel);
        else
            caughtSignal.fetch_add(0, std::memory_order_release);
        // One quit is enough: it is the only one, and it comes before the
        // loop ends. Later signals only name the cause if none was.
        if (!quitAsked)
            SignalWatcher::handOverQuit();
        quitAsked = true;
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
    bool expected = false;
    // No pipe: the default actions stay in force.
    if (pipeFds[0] >= 0 && watching.compare_exchange_strong(expected, true)) {
        // The watcher sleeps in read(); the handlers' end stays non-blocking.
        const int flags = fcntl(pipeFds[0], F_GETFL);
        fcntl(pipeFds[0], F_SETFL, flags & ~O_NONBLOCK);
        std::thread(&SignalWatcher::watch).detach();
    }
    return new SignalWatcher();
}

int SignalWatcher::caught() const
{
    return caughtSignal.load(std::memory_order_acquire);
}

void SignalWatcher::requestQuit()
{
    if (pipeFds[1] >= 0 && watching.load()) {
        onSignal(0);
        return;
    }
    QMetaObject::invokeMethod(QCoreApplication::instance(), "quit", Qt::QueuedConnection);
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
