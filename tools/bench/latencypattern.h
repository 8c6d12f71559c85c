#ifndef LATENCYPATTERN_H
#define LATENCYPATTERN_H

// How a parent may send its audio, as schedules for ParentSender: on time
// with jitter, stalled and catching up, pre-filled, with a clock a little
// fast, in chunks of eight blocks.

#include "parentsender.h"

#include <QString>
#include <vector>

class LatencyPattern
{
public:
    char id;               // 'a' .. 'e'
    QString name;          // a short label for the table
    double seconds;        // how long the parent sends
    double disturbanceS;   // when the pattern's disturbance ends, from the start
    std::vector<ParentSender::Send> (*make)(const LatencyPattern& p, qint64 startNs, quint32 seed);

    std::vector<ParentSender::Send> schedule(qint64 startNs, quint32 seed) const { return make(*this, startNs, seed); }
    // Blocks due from here on (monotonic ns) count as settled.
    qint64 settledFromNs(qint64 startNs) const;

    // All five, or those whose ids are in `ids`; lengths times `scale`.
    static std::vector<LatencyPattern> all(const QString& ids = "abcde", double scale = 1);

    // The settled part starts this long after the disturbance.
    static constexpr double kSettleS = 3;
};

#endif
