#include "callplayer.h"
#include "world.h"

using namespace rig;

// One call: rung, maybe a door while ringing, then picked up and talked
// through or dropped by either side; faults may come between any two steps,
// and a hang-up ends the call on its own.
void CallPlayer::call()
{
    if (!ring())
        return;
    auto still = [&](int lo, int hi) {
        w.idle(w.uni(lo, hi));
        return !w.stopping() && w.state() != AnsweringShield::Idle;
    };
    if (!still(200, 2500) || (w.chance(20) && (!door(w.uni(1, 2)) || !still(100, 1500))))
        return;
    const int end = w.uni(1, 100);
    if (end <= 30) {
        drop(end <= 15);
        return;
    }
    if (!pickup() || !still(200, 3000))
        return;
    for (int doors = w.uni(0, 3); doors > 0; --doors)
        if (!door(w.uni(1, 2)) || !still(100, 2000))
            return;
    drop(w.chance(60));
}

bool CallPlayer::ring()
{
    const bool block = !w.blocked.isEmpty() && w.chance(25);
    const QList<int> list = w.blocked.values();
    int n = block ? list.at(w.uni(0, list.size() - 1)) : w.uni(1, 200);
    while (!block && w.blocked.contains(n))
        n = w.uni(1, 200);
    w.mark();
    ++w.rings;
    w.expCtl << "dial " + QByteArray::number(n) + " 0";
    w.sendLine(dialFrame(uint8_t(n)));
    if (block) {
        ++w.ringsBlocked;
        w.expCtl << "drop";
        w.await("a blocked ring refused", [&] { return w.logSeen("isBlockPhone Drop"); });
        return false;
    }
    if (!w.await("call frame after a ring", [&] { return w.logSeen("STATUS_FREE Dial") && w.frameSeen(kCallFrame); }))
        return false;
    w.answering.ring(uint8_t(n)); // the line rings: its dial repeats
    w.nextDialAt = w.now() + 1000;
    return true;
}

bool CallPlayer::door(int which)
{
    // While ringing the door frame waits for the shield's next dial.
    const bool free = w.state() == AnsweringShield::Idle;
    const QByteArray wantFrame = free ? (which == 1 ? kOpen1Frame : kOpen2Frame)
                                      : frame(which == 1 ? OPEN_1 : OPEN_2, QByteArray(), true);
    const QByteArray wantLog = free ? "Success OP" + QByteArray::number(which)
                                    : QByteArray(w.state() == AnsweringShield::Ringing ? "STATUS_CALL" : "STATUS_PICKUP")
                                          + " Открыта дверь " + QByteArray::number(which);
    ++(free ? w.doorsFree : w.doorsInCall);
    w.mark();
    w.parent("open " + QByteArray::number(which));
    return w.await("door frame and its answer", [&] { return w.frameSeen(wantFrame) && w.logSeen(wantLog); });
}

bool CallPlayer::pickup()
{
    w.mark();
    ++w.pickups;
    w.parent("pickup");
    return w.await("pickup frame and the shield's answer",
                   [&] { return w.frameSeen(kPickupFrame) && w.logSeen("STATUS_CALL pickup"); });
}

bool CallPlayer::drop(bool byParent)
{
    const QByteArray wantLog = w.state() == AnsweringShield::Ringing ? "STATUS_CALL Drop" : "STATUS_PICKUP Drop";
    w.mark();
    w.expCtl << "drop";
    if (byParent) {
        ++w.parentDrops;
        w.parent("drop");
        return w.await("drop frame and the shield's answer",
                       [&] { return w.frameSeen(kDropFrame) && w.logSeen(wantLog); });
    }
    ++w.shieldDrops;
    w.sendLine(w.answering.hangUp());
    return w.await("the shield's drop handled", [&] { return w.logSeen(wantLog); });
}
