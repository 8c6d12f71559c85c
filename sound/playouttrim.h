#ifndef PLAYOUTTRIM_H
#define PLAYOUTTRIM_H

// Keeps the parent's audio from piling up ahead of the line. A parent that
// got ahead once (a stall and a burst, a pre-fill, a clock a little fast)
// would otherwise keep that delay for the rest of the call. Asked once per
// exchange: when more than kTargetDepth blocks have waited at every exchange
// for a whole window, the oldest is dropped, and then one more every step
// while more than kFloorDepth wait. A queue that comes down to the target
// within the window, however high it went (a parent sending in chunks), is
// never touched. Counts exchanges, not time: one exchange is one block.
class PlayoutTrim
{
public:
    // depth: blocks waiting at this exchange, the one about to go included.
    // True: drop the oldest before taking one.
    bool dropOldest(int depth);

    // Two blocks absorb a parent's jitter of up to a block.
    static constexpr int kTargetDepth = 2;
    // Trimmed down to one: the delay a parent on time has.
    static constexpr int kFloorDepth = 1;
    // About a second of 16 ms exchanges.
    static constexpr int kWindowExchanges = 62;
    // One drop per 128 ms at most: single 16 ms skips, spread out, and ten
    // blocks of excess gone in little more than a second.
    static constexpr int kStepExchanges = 8;

private:
    int above = 0;
    bool trimming = false;
    int sinceDrop = 0;
};

#endif
