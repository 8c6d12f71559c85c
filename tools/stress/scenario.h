#ifndef ZMA_STRESS_SCENARIO_H
#define ZMA_STRESS_SCENARIO_H

// What every scenario of zma-stress stands on: the rig, the parent's audio
// receiver, the driver's RSS as it goes and the scenario's ok/FAIL lines.

#include "rig/rig.h"
#include "rig/say.h"
#include "rig/verdict.h"

#include <functional>

class Scenario
{
public:
    // Says "name: what" first.
    Scenario(const char* scenarioName, const QString& what) : name(scenarioName) { say("%s: %s\n", name, qPrintable(what)); }

    // Audio from the driver on 20002; now() on the clock of its datagrams.
    rig::UdpReceiver audio{20002};
    rig::Rig rig;
    rig::Verdict bounds{"ok"};
    qint64 now() const { return audio.nowMs(); }
    double rate(qint64 from, qint64 to) { return to > from ? audio.count(from, to) * 1000.0 / double(to - from) : 0; }
    int worstSecond(qint64 from, qint64 to); // fewest in a whole second of the span; -1 if none fits

    // The ports, then the driver up to shield_ready (rig.start() unless
    // startDriver is given); false, said why, if not.
    bool start(const char* hint = "another driver running? use run-stress.sh",
               const std::function<bool()>& startDriver = {});
    bool said(const QByteArray& line) { return rig.driver.stdoutBytes().indexOf("\n" + line, stdoutFrom) >= 0; }
    // Asks the console for intercom 102's indexes; true once it answered.
    bool ask102(int timeoutMs)
    {
        rig.driver.proc.write("7 102\n");
        return rig::waitUntil([&] { return said("#Intercom 102 supported indexes"); }, timeoutMs, pump);
    }
    // Reads the shield (its frames dropped), the audio, the RSS; for the waits too.
    const std::function<void()> pump = [this] {
        rig.shield.pump();
        rig.shield.frames.clear();
        audio.pump();
        if (rssNextNs >= 0 && rig::monotonicNs() >= rssNextNs) {
            rssSample();
            rssNextNs += 100 * rig::kMs;
        }
    };

    // VmRSS, sampled every 100 ms by pump() so that a short peak is not missed.
    void rssBegin() { rssStart = rssPeak = rssLast = rig.driver.rssKb(); rssNextNs = rig::monotonicNs() + 100 * rig::kMs; }
    qint64 rssSample(); // returns rssLast
    void rssPrint() const { say("  RSS: %lld KiB at start, peak %lld KiB, last %lld KiB\n", rssStart, rssPeak, rssLast); }
    qint64 rssStart = -1, rssPeak = -1, rssLast = -1;

    void endDriver(const std::function<void()>& pumpWhileWaiting); // by end of input, the normal way
    // "name: PASS" when ok and every bound held, else FAIL.
    bool end(bool ok = true) { ok = ok && bounds.allPassed(); say("%s: %s\n\n", name, ok ? "PASS" : "FAIL"); return ok; }
    bool finish(const std::function<void()>& pumpWhileWaiting) { endDriver(pumpWhileWaiting); return end(); }

private:
    const char* name;
    int stdoutFrom = 0;
    qint64 rssNextNs = -1;
};

// "N ms" from sent to seen, or "not seen".
inline QString latency(qint64 sent, qint64 seen) { return seen >= 0 ? QString("%1 ms").arg(seen - sent) : "not seen"; }

bool lineFlood(double seconds);
bool junkFlood(double seconds);
bool commandFlood(qint64 count);
bool stdoutStall(double seconds);
bool stderrStall(qint64 count);

#endif
