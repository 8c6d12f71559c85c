#include "log/diagnostics.h"
#include "utils/linewriter.h"
#include "log/logservice.h"

#include <QDebug>
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

std::atomic<bool> Diagnostics::installed{false};

Diagnostics& Diagnostics::instance()
{
    // Never destroyed: threads may still report while the process exits.
    static Diagnostics* diagnostics = new Diagnostics();
    return *diagnostics;
}

Diagnostics::Diagnostics()
{
    writer = new LineWriter(STDERR_FILENO, kMaxLines, [this](Limiter::Clock::time_point now, bool* pending) {
        std::deque<Limiter::LogLine> logged;
        std::deque<QByteArray> lines = limiter.expire(now, pending, &logged);
        // Only lines admitted while the log existed carry a source.
        for (const Limiter::LogLine& line : logged)
            logService->debug(line.first, line.second);
        return lines;
    });
}

void Diagnostics::install()
{
    instance();
    qInstallMessageHandler(messageHandler);
    installed = true;
}

void Diagnostics::report(const QByteArray& text, long long times)
{
    Diagnostics& d = instance();
    if (d.limiter.admit(text, Limiter::Clock::now(), times))
        d.writer->write(text + '\n');
}

void Diagnostics::reportLogged(const char* logSource, const QByteArray& text, const QByteArray& explanation)
{
    LogService* log = logSource ? logService : nullptr;
    const QByteArray& logText = explanation.isEmpty() ? text : explanation;
    if (!installed.load()) {
        qDebug().noquote() << QString::fromUtf8(text);
        if (!explanation.isEmpty())
            qDebug().noquote() << QString::fromUtf8(explanation);
        if (log)
            log->debug(logSource, logText);
        return;
    }
    Diagnostics& d = instance();
    if (!d.limiter.admit(text, Limiter::Clock::now(), 1, log ? logSource : nullptr))
        return;
    // One write: no other thread's line comes between the two.
    d.writer->write(explanation.isEmpty() ? text + '\n' : text + '\n' + explanation + '\n');
    if (log)
        log->debug(logSource, logText);
}

bool Diagnostics::flush(int timeoutMs)
{
    return instance().writer->flush(timeoutMs);
}

QByteArray Diagnostics::summary(const QByteArray& text, long long repeats)
{
    return text + " (repeated " + QByteArray::number(repeats) + " times)\n";
}

bool Diagnostics::Limiter::admit(const QByteArray& text, Clock::time_point now, long long times,
                                 const char* logSource)
{
    if (times <= 0)
        return false;
    std::lock_guard<std::mutex> lock(mutex);
    auto it = windows.find(text);
    if (it == windows.end()) {
        if (windows.size() < kMaxTracked)
            windows.emplace(text, Window{now, times - 1, logSource});
        return true;
    }
    it->second.repeats += times;
    return false;
}

std::deque<QByteArray> Diagnostics::Limiter::expire(Clock::time_point now, bool* open, std::deque<LogLine>* logged)
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
            if (logged && w.logSource)
                logged->emplace_back(w.logSource, lines.back().chopped(1));
            w.start = now;
            w.repeats = 0;
            ++it;
        }
    }
    if (open)
        *open = !windows.empty();
    return lines;
}
