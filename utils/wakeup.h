#ifndef WAKEUP_H
#define WAKEUP_H

#include <QObject>
#include <atomic>
#include <functional>

// Asks, from any thread, for one call of a function in the thread of a
// context object, as a queued call: the work then runs when it is there to
// do instead of on a timer that polls for it. Asks made before the call
// runs share it; one made while it runs brings another.
class Wakeup
{
public:
    Wakeup(QObject* context, std::function<void()> work);
    Wakeup(const Wakeup&) = delete;
    Wakeup& operator=(const Wakeup&) = delete;

    void ask();

private:
    // The queued call. Kept out of line: ThreadSanitizer names the frame
    // that calls it, ask(), which its suppressions tell about Qt's
    // hand-over inside.
    __attribute__((noinline)) void handOver();

    QObject* context;
    const std::function<void()> work;
    std::atomic<bool> asked{false};
};

#endif
