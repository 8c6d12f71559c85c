#include "sound/playouttrim.h"

bool PlayoutTrim::dropOldest(int depth)
{
    if (trimming) {
        if (depth <= kFloorDepth) {
            trimming = false;
            above = 0;
            return false;
        }
        if (++sinceDrop < kStepExchanges)
            return false;
        sinceDrop = 0;
        return true;
    }
    if (depth <= kTargetDepth) {
        above = 0;
        return false;
    }
    if (++above < kWindowExchanges)
        return false;
    trimming = true;
    sinceDrop = 0;
    return true;
}
