#ifndef DIAGNOSTICS_H
#define DIAGNOSTICS_H

#include <QByteArray>
#include <QString>
#include <chrono>
#include <deque>
#include <map>
#include <mutex>

class LineWriter;

// Standard error for diagnostics: Qt's debug output is routed here, written
// by a thread of its own with a bounded queue, so a reader that stops never
// blocks the driver. The same text repeated within a second is printed once;
// at the end of that second one line carries how many more came.
class Diagnostics
{
public:
    // Routes Qt's message output here; idempotent.
    static void install();
    // One diagnostic line, without its line feed, that happened `times` times.
    static void report(const QByteArray& text, long long times = 1);
    static bool flush(int timeoutMs);

    static constexpr int kMaxLines = 256;
    static constexpr std::chrono::milliseconds kWindow{1000};
    // Distinct texts followed at once; past it, texts are printed untracked.
    static constexpr size_t kMaxTracked = 256;

    // The rate limiter, apart from the output so it can be tested alone.
    class Limiter
    {
    public:
        using Clock = std::chrono::steady_clock;
        // Whether the text goes out now; the rest of `times` is counted.
        bool admit(const QByteArray& text, Clock::time_point now, long long times = 1);
        // Lines for the windows that ended by now: the text with its count.
        // *open (when given) tells whether a window is still open.
        std::deque<QByteArray> expire(Clock::time_point now, bool* open = nullptr);

    private:
        struct Window {
            Clock::time_point start;
            long long repeats = 0;
        };
        std::mutex mutex;
        std::map<QByteArray, Window> windows;
    };

    static QByteArray summary(const QByteArray& text, long long repeats);

private:
    static Diagnostics& instance();
    Diagnostics();

    Limiter limiter;
    LineWriter* writer;
};

#endif
