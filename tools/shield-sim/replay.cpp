#include "replay.h"

#include "options.h"
#include "simio.h"

#include "commands/commandtesk.h"
#include "log/logline.h"
#include "rig/shieldpty.h"

#include <QCoreApplication>
#include <QFile>
#include <QHash>

namespace {
// Waiting this long for the driver's first frame means it is not there.
constexpr int kFirstFrameWaitMs = 30000;
// How far ahead a frame may be found when the ones before it never came.
constexpr int kLookAhead = 3;

QByteArray describe(const QByteArray& frame)
{
    const uint8_t b3 = static_cast<uint8_t>(frame.at(3));
    return hexBytes(frame) + " (" + codeName(b3 == LINK_MARKER ? static_cast<uint8_t>(frame.at(4)) : b3) + ")";
}

QByteArray ms(qint64 at) { return "+" + QByteArray::number(at) + " ms"; }
}

Replay::Replay(rig::ShieldPty* line, const Options& opts) : line(line), opts(opts)
{
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    connect(&timer, &QTimer::timeout, this, [this] { step(); });
}

bool Replay::load(const QString& path, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return false;
    }
    struct Recorded {
        double time;
        QByteArray bytes;
        int after;
    };
    QList<Recorded> readsAt;
    QList<Recorded> writesAt;
    double lastTime = 0;
    // Long lines come in pieces; a category's pieces are joined before use.
    QHash<QByteArray, QByteArray> pieces;
    ReceiveStream written;
    int lineNumber = 0;
    while (!file.atEnd()) {
        const QByteArray text = file.readLine();
        ++lineNumber;
        const QByteArray trimmed = text.trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith('#'))
            continue;
        SavedLine saved;
        if (!SavedLine::parse(text, &saved)) {
            *error = QStringLiteral("%1:%2: not a line of a saved log (time, tab, line)").arg(path).arg(lineNumber);
            return false;
        }
        lastTime = qMax(lastTime, saved.time);
        LogLine log;
        if (saved.isParentLine() || !LogLine::parse(saved.text, &log))
            continue;
        const bool isRead = log.category == "Uart READ";
        if (!isRead && log.category != "Uart WRITE")
            continue;
        QByteArray& hexText = pieces[log.category];
        hexText += log.message + ' ';
        if (log.continued)
            continue;
        const QByteArray bytes = QByteArray::fromHex(hexText);
        hexText.clear();
        if (isRead) {
            readsAt.append({saved.time, bytes, writesAt.size() - 1});
        } else {
            // The driver writes whole frames, one a line; anything else would
            // not be on the line either.
            for (const QByteArray& frame : written.push(bytes))
                writesAt.append({saved.time, frame, -1});
        }
    }
    if (writesAt.isEmpty()) {
        *error = QStringLiteral("%1: no frame of the driver (Uart WRITE) to compare with").arg(path);
        return false;
    }
    origin = writesAt.first().time;
    auto offset = [this](double time) {
        return qMax<qint64>(0, qRound64((time - origin) * 1000.0 / opts.speed));
    };
    for (const Recorded& w : writesAt)
        expected.append({offset(w.time), w.bytes});
    for (const Recorded& r : readsAt) {
        const qint64 gap = r.after < 0 ? 0 : qRound64((r.time - writesAt.at(r.after).time) * 1000.0 / opts.speed);
        reads.append({offset(r.time), r.bytes, r.after, gap});
    }
    qint64 lastEvent = expected.last().atMs;
    if (!reads.isEmpty())
        lastEvent = qMax(lastEvent, reads.last().atMs);
    // Up to the end of the recording: a repeat after the last exchange
    // counts too.
    endMs = qMax(lastEvent + opts.toleranceMs, offset(lastTime));
    return true;
}

void Replay::start()
{
    // origin: the receive time of the first recorded frame, seconds since the epoch.
    say("replay session origin " + QByteArray::number(origin, 'f', 6) + " frames "
        + QByteArray::number(expected.size()) + " chunks " + QByteArray::number(reads.size()));
    line->onRead = [this](const QByteArray& bytes) { driverBytes(bytes); };
    QTimer::singleShot(kFirstFrameWaitMs, this, [this] {
        if (running || done)
            return;
        summary.missing = expected.size();
        differ("the driver wrote no frame within " + QByteArray::number(kFirstFrameWaitMs / 1000) + " s");
        finish();
    });
}

void Replay::driverBytes(const QByteArray& bytes)
{
    if (done)
        return;
    for (const QByteArray& frame : fromDriver.push(bytes)) {
        if (!running) {
            running = true;
            clock.start();
                // A runner giving the parent's lines counts their times from
            // this, the monotonic clock in ms.
            say("replay origin " + QByteArray::number(clock.msecsSinceReference()));
        }
        const qint64 at = now();
        say("rx " + hexBytes(frame));
        // Frames whose time ran out go first, so a late frame is not taken
        // for the one now due.
        step();
        if (done)
            return;
        driverFrame(frame, at);
    }
    const qint64 junk = fromDriver.takeSkipped().size();
    if (junk > 0) {
        summary.junkBytes += junk;
        differ("the driver wrote " + QByteArray::number(junk) + " bytes outside any valid frame at "
               + ms(running ? now() : 0));
    }
    if (running)
        schedule();
}

void Replay::settle(int index, qint64 cameAtMs)
{
    expected[index].settled = true;
    expected[index].cameAtMs = cameAtMs;
}

void Replay::driverFrame(const QByteArray& frame, qint64 at)
{
    const int tol = opts.toleranceMs;
    if (nextExpected >= expected.size()) {
        ++summary.extra;
        differ("the driver wrote " + describe(frame) + " at " + ms(at) + ", after the last recorded frame");
        return;
    }
    const Expected& head = expected.at(nextExpected);
    const QByteArray versus = "recorded " + describe(head.bytes) + " at " + ms(head.atMs) + ", the driver wrote "
                              + describe(frame) + " at " + ms(at);
    if (head.bytes == frame) {
        if (qAbs(at - head.atMs) <= tol) {
            ++summary.matched;
        } else {
            ++summary.mistimed;
            differ("frame " + QByteArray::number(nextExpected + 1) + " " + describe(frame) + " came at " + ms(at)
                   + ", recorded at " + ms(head.atMs));
        }
        settle(nextExpected++, at);
        return;
    }
    const int last = qMin(expected.size() - 1, nextExpected + kLookAhead);
    for (int j = nextExpected + 1; j <= last; ++j) {
        const Expected& later = expected.at(j);
        if (later.bytes != frame || qAbs(at - later.atMs) > tol)
            continue;
        differ("frame " + QByteArray::number(nextExpected + 1) + " missing: " + versus);
        summary.missing += j - nextExpected;
        ++summary.matched;
        while (nextExpected < j)
            settle(nextExpected++, -1);
        settle(nextExpected++, at);
        return;
    }
    ++summary.extra;
    differ("frame " + QByteArray::number(nextExpected + 1) + ": " + versus);
}

qint64 Replay::dueAt(const Chunk& chunk) const
{
    if (chunk.after < 0)
        return chunk.atMs;
    const Expected& before = expected.at(chunk.after);
    if (!before.settled)
        return -1;
    if (before.cameAtMs < 0)
        return chunk.atMs;
    return qMax(chunk.atMs, before.cameAtMs + chunk.gapMs);
}

void Replay::step()
{
    if (!running || done)
        return;
    const qint64 at = now();
    while (nextExpected < expected.size() && expected.at(nextExpected).atMs + opts.toleranceMs < at) {
        const Expected& head = expected.at(nextExpected);
        differ("frame " + QByteArray::number(nextExpected + 1) + " missing: recorded " + describe(head.bytes) + " at "
               + ms(head.atMs) + ", nothing came within " + QByteArray::number(opts.toleranceMs) + " ms");
        ++summary.missing;
        settle(nextExpected++, -1);
    }
    while (nextRead < reads.size()) {
        const qint64 due = dueAt(reads.at(nextRead));
        if (due < 0 || due > at)
            break;
        const QByteArray& bytes = reads.at(nextRead).bytes;
        if (!line->send(bytes))
            printError(QStringLiteral("serial write failed: %1").arg(errnoText()));
        say("tx " + hexBytes(bytes));
        ++nextRead;
    }
    if (at >= endMs) {
        finish();
        return;
    }
    schedule();
}

void Replay::schedule()
{
    if (done)
        return;
    qint64 next = endMs;
    if (nextRead < reads.size()) {
        const qint64 due = dueAt(reads.at(nextRead));
        if (due >= 0)
            next = qMin(next, due);
    }
    if (nextExpected < expected.size())
        next = qMin(next, expected.at(nextExpected).atMs + opts.toleranceMs + 1);
    timer.start(static_cast<int>(qBound<qint64>(0, next - now(), 24 * 3600 * 1000)));
}

void Replay::differ(const QByteArray& text)
{
    if (summary.firstDifference.isEmpty())
        summary.firstDifference = text;
}

void Replay::finish()
{
    if (done)
        return;
    done = true;
    timer.stop();
    const Summary& s = summary;
    say("replay frames " + QByteArray::number(expected.size()) + " matched " + QByteArray::number(s.matched) + " missing "
        + QByteArray::number(s.missing) + " extra " + QByteArray::number(s.extra) + " mistimed "
        + QByteArray::number(s.mistimed) + " junk " + QByteArray::number(s.junkBytes));
    if (!s.firstDifference.isEmpty())
        say("replay first difference: " + s.firstDifference);
    say(QByteArray(s.passed() ? "replay passed" : "replay FAILED"));
    QCoreApplication::quit();
}
