#include "scenario.h"

#include <algorithm>
#include <climits>

using namespace rig;

int Scenario::count(qint64 from, qint64 to)
{
    audio.pump();
    return int(std::count_if(audio.datagrams.cbegin(), audio.datagrams.cend(),
                             [&](const UdpReceiver::Datagram& d) { return d.atMs >= from && d.atMs < to; }));
}

int Scenario::worstSecond(qint64 from, qint64 to)
{
    int worst = INT_MAX;
    for (qint64 s = from; s + 1000 <= to; s += 1000)
        worst = std::min(worst, count(s, s + 1000));
    return worst == INT_MAX ? -1 : worst;
}

bool Scenario::start(const char* hint, const std::function<bool()>& startDriver)
{
    if (!audio.isBound() || !rig.log.isBound()) {
        say("  FAIL  cannot bind UDP 20002/20004 (%s)\n", hint);
        return false;
    }
    if (!(startDriver ? startDriver() : rig.start())) {
        say("  FAIL  driver did not reach shield_ready\n");
        return false;
    }
    stdoutFrom = std::max(0, int(rig.driver.stdoutBytes().size()) - 1);
    return true;
}

void Scenario::pumpOnce()
{
    rig.shield.pump();
    rig.shield.frames.clear();
    audio.pump();
    if (rssNextNs >= 0 && monotonicNs() >= rssNextNs) {
        rssSample();
        rssNextNs += 100 * kMs;
    }
}

void Scenario::rssBegin()
{
    rssStart = rssPeak = rssLast = rig.driver.rssKb();
    rssNextNs = monotonicNs() + 100 * kMs;
}

qint64 Scenario::rssSample()
{
    const qint64 kb = rig.driver.rssKb();
    if (kb >= 0)
        rssPeak = std::max(rssPeak, rssLast = kb);
    return rssLast;
}

void Scenario::finish(const std::function<void()>& pumpWhileWaiting)
{
    rig.driver.closeStdin();
    if (rig.driver.waitExit(5000, pumpWhileWaiting))
        say("  driver exited with status %d after end of input\n", rig.driver.exitCode());
    else
        say("  driver still running 5 s after end of input (killed)\n");
}

bool Scenario::end(bool ok)
{
    ok = ok && bounds.allPassed();
    say("%s: %s\n\n", name, ok ? "PASS" : "FAIL");
    return ok;
}
