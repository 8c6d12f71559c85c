#ifndef LOCALTIMELOCK_H
#define LOCALTIMELOCK_H

#include <mutex>

// Local time reads glibc's time zone state under a lock of glibc's own,
// which ThreadSanitizer cannot see. Every thread of ours that reads local
// time (the log's stamps; the serial port's lock file, which Qt dates) does
// it under this one lock, so the order is visible.
inline std::mutex& localTimeLock()
{
    static std::mutex lock;
    return lock;
}

#endif
