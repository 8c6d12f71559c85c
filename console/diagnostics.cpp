#include "console/diagnostics.h"
#include "console/linewriter.h"

#include <QtGlobal>
#include <cstdlib>
#include <unistd.h>

namespace {
void messageHandler(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    const QByteArray line = qFormatLogMessage(type, context, message).toUtf8();
    if (type == QtFatalMsg) {
        // The process ends next: say it directly.
        const QByteArray out = line + '\n';
        (void)!::write(STDERR_FILENO, out.constData(), size_t(out.size()));
        std::abort();
    }
    Diagnostics::report(line);
}
}

Diagnostics& Diagnostics::instance()
{
    // Never destroyed: threads may still report while the process exits.
    static Diagnostics* diagnostics = new Diagnostics();
    return *diagnostics;
}

Diagnostics::Diagnostics()
{
    writer = new LineWriter(STDERR_FILENO, kMaxLines,
                            [this](Limiter::Clock::time_point now, bool* pending) { return limiter.expire(now, pending); });
}

void Diagnostics::install()
{
    instance();
    qInstallMessageHandler(messageHandler);
}

void Diagnostics::report(const QByteArray& text, long long times)
{
    Diagnostics& d = instance();
    if (d.limiter.admit(text, Limiter::Clock::now(), times))
        d.writer->write(text + '\n');
}

bool Diagnostics::flush(int timeoutMs)
{
    return instance().writer->flush(timeoutMs);
}

QByteArray Diagnostics::summary(const QByteArray& text, long long repeats)
{
    return text + " (repeated " + QByteArray::number(repeats) + " times)\n";
}

bool Diagnostics::Limiter::admit(const QByteArray& text, Clock::time_point now, long long times)
{
    if (times <= 0)
        return false;
    std::lock_guard<std::mutex> lock(mutex);
    auto it = windows.find(text);
    if (it == windows.end()) {
        if (windows.size() < kMaxTracked)
            windows.emplace(text, Window{now, times - 1});
        return true;
    }
    it->second.repeats += times;
    return false;
}

std::deque<QByteArray> Diagnostics::Limiter::expire(Clock::time_point now, bool* open)
{
    std::deque<QByteArray> lines;
    std::lock_guard<std::mutex> lock(mutex);
    for (auto it = windows.begin(); it != windows.end();) {
        Window& w = it->second;
        if (now - w.start < kWindow) {
            ++it;
        } else if (w.repeats == 0) {
            it = windows.erase(it);
        } else {
            // The count goes out and a new window starts with it.
            lines.push_back(summary(it->first, w.repeats));
            w = Window{now, 0};
            ++it;
        }
    }
    if (open)
        *open = !windows.empty();
    return lines;
}
