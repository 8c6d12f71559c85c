#ifndef DIAGNOSTICS_H
#define DIAGNOSTICS_H

#include <QByteArray>
#include <QString>
#include <atomic>
#include <chrono>
#include <deque>
#include <map>
#include <mutex>
#include <utility>

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
    // A line the log gets too, under logSource (nullptr: stderr only), with
    // the same limit: the log gets stderr's count line too. An explanation
    // (the English cause and remedy beside a line in the system's own
    // Russian) follows text in the same write whenever text goes out, and
    // is the log's line instead of it. Before install() both go to Qt's
    // message output every time, as the other diagnostics do.
    static void reportLogged(const char* logSource, const QByteArray& text,
                             const QByteArray& explanation = QByteArray());
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
        // A window's count line as the log gets it, with its source.
        using LogLine = std::pair<const char*, QByteArray>;
        // Whether the text goes out now; the rest of `times` is counted. With
        // a log source, the window's count line also goes to the log.
        bool admit(const QByteArray& text, Clock::time_point now, long long times = 1,
                   const char* logSource = nullptr);
        // Lines for the windows that ended by now: the text with its count.
        // *open (when given) tells whether a window is still open; *logged
        // (when given) gets the counts of the windows with a log source.
        std::deque<QByteArray> expire(Clock::time_point now, bool* open = nullptr,
                                      std::deque<LogLine>* logged = nullptr);

    private:
        struct Window {
            Clock::time_point start;
            long long repeats = 0;
            const char* logSource = nullptr;
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
    static std::atomic<bool> installed;
};

#endif
