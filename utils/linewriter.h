#ifndef LINEWRITER_H
#define LINEWRITER_H

#include <QByteArray>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

// Writes lines to a descriptor from a thread of its own, so that a reader
// who stops reading blocks that thread only. Lines go out whole and in order;
// while they cannot, at most maxLines wait and the oldest beyond are dropped
// and counted. A line that cannot be written (reader gone) is lost and
// counted too.
class LineWriter
{
public:
    // Called by the writer thread about every tick while it has something
    // in hand; returns lines to write and sets *pending while it wants the
    // next tick. A line written calls it again on the next tick.
    using Periodic = std::function<std::deque<QByteArray>(std::chrono::steady_clock::time_point, bool* pending)>;
    // Told how many lines were just dropped or lost; may run in any thread.
    using OnLost = std::function<void(long long)>;

    LineWriter(int fd, int maxLines, Periodic periodic = {}, OnLost onLost = {});
    LineWriter(const LineWriter&) = delete;
    LineWriter& operator=(const LineWriter&) = delete;

    // Never blocks on the descriptor. The line should end in '\n'.
    void write(QByteArray line);
    // Waits until every queued line has been written or lost, for at most
    // timeoutMs; true if it got there.
    bool flush(int timeoutMs);
    static constexpr std::chrono::milliseconds kTick{200};

private:
    void run();
    void writeAll(const QByteArray& line);

    const int fd;
    const size_t maxLines;
    const Periodic periodic;
    const OnLost onLost;
    std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable drained;
    std::deque<QByteArray> queue;
    bool writing = false;
    // Lines given to write(), so a tick's "nothing pending" is not taken for
    // a line that came while it ran.
    unsigned long long written = 0;
};

#endif
