#ifndef PARENT_H
#define PARENT_H

// The parent's end of the audio for the latency runs: numbered 512-byte
// blocks to UDP 127.0.0.1:20003 after one of five patterns, each datagram
// at an absolute CLOCK_MONOTONIC time from a thread of its own, so a late
// wake-up delays one send and not the rest of the schedule.

#include "rig/udpsender.h"

#include <QString>
#include <cmath>
#include <future>
#include <vector>

class Parent
{
public:
    // One datagram of `blocks` consecutive blocks, sent at atNs.
    struct Send { qint64 atNs; int blocks; };
    struct Block {
        quint32 seq;
        qint64 dueNs;  // the schedule's time for its datagram
        qint64 sentNs; // just before the send; -1 when the kernel refused it
    };
    struct Pattern {
        char id;             // 'a' .. 'e'
        QString name;        // a short label for the table
        double seconds;      // how long the parent sends
        double disturbanceS; // when the pattern's disturbance ends, from the start

        std::vector<Send> schedule(qint64 startNs, quint32 seed) const;
        // Blocks due from here on (monotonic ns; t0 the start) count as settled.
        qint64 settledFromNs(qint64 t0) const { return t0 + qint64(std::llround((disturbanceS + kSettleS) * 1e9)); }
    };
    // All five, or those whose ids are in `ids`; lengths times `scale`.
    static std::vector<Pattern> patterns(const QString& ids, double scale);
    // The settled part starts this long after the disturbance.
    static constexpr double kSettleS = 3;

    bool isOpen() const { return out.isOpen(); }
    // Sends the schedule, numbering blocks from firstSeq on; a Block each.
    std::future<std::vector<Block>> send(std::vector<Send> schedule, quint32 firstSeq);

    static constexpr int kBlockBytes = 512;
    static constexpr qint64 kPeriodNs = 16000000; // of the driver's exchanges
    static constexpr double kDrainS = 2; // after the last send, for what is still queued to come out
    // Its number in the first four bytes, a mark, then bytes that are never
    // the shield's idle pattern (FF 7F ...): each odd byte's low bit is clear.
    static QByteArray block(quint32 seq);
    // True, with *seq set, for a block made by block().
    static bool numberOf(const QByteArray& block, quint32* seq);

private:
    rig::UdpSender out;
};

#endif
