#include "driverclock.h"

#include <cstdio>
#include <ctime>

namespace {
constexpr qint64 kDayMs = 24 * 3600 * 1000;
constexpr qint64 kQuarterHourMs = 15 * 60 * 1000;

// a mod m in [0, m), for a of either sign.
qint64 mod(qint64 a, qint64 m) { return (a % m + m) % m; }

int digits(const QByteArray& s, int at, int n, bool* ok)
{
    int v = 0;
    for (int i = at; i < at + n; ++i) {
        const char c = s.at(i);
        if (c < '0' || c > '9')
            *ok = false;
        v = v * 10 + (c - '0');
    }
    return v;
}

// "hh:mm:ss.zzz" of utcMs at offsetMs from UTC.
QByteArray format(qint64 utcMs, qint64 offsetMs)
{
    const qint64 t = mod(utcMs + offsetMs, kDayMs);
    char buf[16];
    snprintf(buf, sizeof(buf), "%02d:%02d:%02d.%03d", int(t / 3600000), int(t / 60000 % 60), int(t / 1000 % 60),
             int(t % 1000));
    return QByteArray(buf);
}

// Milliseconds into the day of "hh:mm:ss.zzz", or -1.
qint64 parseClock(const QByteArray& clock)
{
    if (clock.size() != 12 || clock.at(2) != ':' || clock.at(5) != ':' || clock.at(8) != '.')
        return -1;
    bool ok = true;
    const int h = digits(clock, 0, 2, &ok);
    const int m = digits(clock, 3, 2, &ok);
    const int s = digits(clock, 6, 2, &ok);
    const int ms = digits(clock, 9, 3, &ok);
    if (!ok || h > 23 || m > 59 || s > 60)
        return -1;
    return ((h * 60 + m) * 60 + s) * 1000LL + ms;
}
}

qint64 DriverClock::stamped(const QByteArray& clock, qint64 receivedMs)
{
    const qint64 dayMs = parseClock(clock);
    if (dayMs < 0)
        return -1;
    const qint64 raw = mod(dayMs - receivedMs, kDayMs);
    offsetMs = mod((raw + kQuarterHourMs / 2) / kQuarterHourMs * kQuarterHourMs, kDayMs);
    known = true;
    // How long before its receipt the stamp was: within half a day, so a
    // stamp a moment after the receipt (a clock stepped) is not a day early.
    qint64 before = mod(receivedMs + offsetMs - dayMs, kDayMs);
    if (before >= kDayMs / 2)
        before -= kDayMs;
    return receivedMs - before;
}

QByteArray DriverClock::text(qint64 utcMs) const
{
    if (known)
        return format(utcMs, offsetMs);
    const time_t secs = static_cast<time_t>(utcMs / 1000);
    struct tm local = {};
    localtime_r(&secs, &local);
    return format(utcMs, local.tm_gmtoff * 1000LL);
}
