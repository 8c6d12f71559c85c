#include "utils/wakeup.h"

Wakeup::Wakeup(QObject* context, std::function<void()> work)
    : context(context), work(std::move(work))
{
}

void Wakeup::ask()
{
    if (!asked.exchange(true))
        handOver();
}

void Wakeup::handOver()
{
    const bool posted = QMetaObject::invokeMethod(
        context,
        [this] {
            // Cleared first: what is handed in while the work runs asks again.
            asked = false;
            work();
        },
        Qt::QueuedConnection);
    // Not posted (the context is gone): the next ask tries again.
    if (!posted)
        asked = false;
}
