#include "scenario.h"

#include <algorithm>
#include <climits>

using namespace rig;

int Scenario::worstSecond(qint64 from, qint64 to)
{
    int worst = INT_MAX;
    for (qint64 s = from; s + 1000 <= to; s += 1000)
        worst = std::min(worst, audio.count(s, s + 1000));
    return worst == INT_MAX ? -1 : worst;
}

bool Scenario::start(const char* hint, const std::function<bool()>& startDriver)
{
    const auto fail = [](const QByteArray& why) { say("  FAIL  " + why); return false; };
    if (!audio.isBound() || !rig.log.isBound())
        return fail("cannot bind UDP 20002/20004 (" + QByteArray(hint) + ")");
    if (!(startDriver ? startDriver() : rig.start()))
        return fail("driver did not reach shield_ready");
    stdoutFrom = std::max(0, int(rig.driver.stdoutBytes().size()) - 1);
    return true;
}

qint64 Scenario::rssSample()
{
    const qint64 kb = rig.driver.rssKb();
    if (kb >= 0)
        rssPeak = std::max(rssPeak, rssLast = kb);
    return rssLast;
}

void Scenario::endDriver(const std::function<void()>& pumpWhileWaiting)
{
    rig.driver.closeStdin();
    say("  driver %s\n", qPrintable(rig.driver.endOfInput(rig.driver.waitExit(5000, pumpWhileWaiting))));
}
