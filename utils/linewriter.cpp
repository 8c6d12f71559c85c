#include "utils/linewriter.h"

#include "utils/threadsetup.h"

#include <cerrno>
#include <thread>
#include <unistd.h>

LineWriter::LineWriter(int fd, int maxLines, Periodic periodic, OnLost onLost)
    : fd(fd), maxLines(maxLines > 0 ? size_t(maxLines) : 1),
      periodic(std::move(periodic)), onLost(std::move(onLost))
{
    // Never joined: at exit it may be blocked on a reader that has stopped,
    // and the writer lives as long as the process.
    std::thread(&LineWriter::run, this).detach();
}

void LineWriter::write(QByteArray line)
{
    long long dropped = 0;
    {
        std::lock_guard<std::mutex> lock(mutex);
        queue.push_back(std::move(line));
        ++written;
        while (queue.size() > maxLines) {
            queue.pop_front();
            ++dropped;
        }
    }
    wake.notify_one();
    if (dropped && onLost)
        onLost(dropped);
}

bool LineWriter::flush(int timeoutMs)
{
    std::unique_lock<std::mutex> lock(mutex);
    return drained.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                            [this] { return queue.empty() && !writing; });
}

void LineWriter::writeAll(const QByteArray& line)
{
    const char* p = line.constData();
    qint64 left = line.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (onLost)
                onLost(1);
            return;
        }
        p += n;
        left -= n;
    }
}

void LineWriter::run()
{
    using Clock = std::chrono::steady_clock;
    ThreadSetup::name(fd == STDERR_FILENO ? "zma-stderr" : fd == STDOUT_FILENO ? "zma-stdout" : "zma-writer");
    Clock::time_point nextPeriodic = Clock::now();
    // Whether the periodic call wants its next tick: not while it has
    // nothing in hand, so an idle writer sleeps until a line comes.
    bool ticking = bool(periodic);
    unsigned long long seen = 0;
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        const Clock::time_point now = Clock::now();
        if (written != seen) {
            seen = written;
            ticking = bool(periodic);
        }
        if (ticking && now >= nextPeriodic) {
            nextPeriodic = now + kTick;
            lock.unlock();
            bool pending = false;
            std::deque<QByteArray> extra = periodic(now, &pending);
            lock.lock();
            ticking = pending || written != seen;
            seen = written;
            long long dropped = 0;
            for (QByteArray& line : extra)
                queue.push_back(std::move(line));
            while (queue.size() > maxLines) {
                queue.pop_front();
                ++dropped;
            }
            if (dropped && onLost) {
                lock.unlock();
                onLost(dropped);
                lock.lock();
            }
        }
        if (queue.empty()) {
            drained.notify_all();
            if (ticking)
                wake.wait_until(lock, nextPeriodic);
            else
                wake.wait(lock);
            continue;
        }
        QByteArray line = std::move(queue.front());
        queue.pop_front();
        writing = true;
        lock.unlock();
        writeAll(line);
        lock.lock();
        writing = false;
    }
}
