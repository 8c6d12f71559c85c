#ifndef RIG_RUNENV_H
#define RIG_RUNENV_H

// Where the programs of the rig run and how long they may take: natively,
// under an emulator, under a sanitizer.

#include <QStringList>
#include <functional>

namespace rig {

// The emulator every program the rig starts runs under (ZMA_TEST_EMULATOR,
// set by the build when the tests are cross-built: qemu-user, as there may
// be no binfmt_misc to run a foreign program directly), split into words;
// empty when programs run natively.
QStringList emulator();

// Under a sanitizer freed memory waits in quarantine and shadow memory
// grows, and under an emulator the RSS is the emulator's (its translated
// code included), so the driver's RSS says nothing about what it holds:
// memory bounds are not checked then.
#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define RIG_SANITIZED
#endif
#endif
#if defined(RIG_SANITIZED) || defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline bool rssIsMeaningful() { return false; }
#else
inline bool rssIsMeaningful() { return emulator().isEmpty(); }
#endif

// Where the driver runs slower than natively (a sanitizer, an emulator),
// ZMA_TEST_TIME_SCALE (a factor, default 1) stretches the time bounds that
// only hold natively, and the waits for what must happen eventually (a
// million lines take ten times as long under qemu-user).
double timeScale();
inline int scaled(int ms) { return int(ms * timeScale()); }

// Generous time bounds for a shared noisy machine.
inline const int kPrompt = scaled(300); // "on the next tick"
inline const int kWait = scaled(5000);  // anything that must happen eventually

// Runs the event loop (and the callback) until cond() holds or time is up.
bool waitUntil(const std::function<bool()>& cond, int timeoutMs,
               const std::function<void()>& pump = {});
// Runs the event loop for ms milliseconds.
void spin(int ms);

// A whole file (of /proc), empty when it cannot be read.
QByteArray readFile(const QString& path);

qint64 monotonicNs(); // CLOCK_MONOTONIC
qint64 realtimeNs();  // CLOCK_REALTIME
constexpr qint64 kMs = 1000000;
constexpr qint64 kSec = 1000000000;

} // namespace rig

#endif
