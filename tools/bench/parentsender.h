#ifndef PARENTSENDER_H
#define PARENTSENDER_H

// The parent's end of the audio for the latency runs: numbered 512-byte
// blocks to UDP 127.0.0.1:20003, each datagram sent at an absolute
// CLOCK_MONOTONIC time from a thread of its own, so a late wake-up delays
// one send and not the rest of the schedule.

#include <QByteArray>
#include <thread>
#include <vector>

class ParentSender
{
public:
    // One datagram of `blocks` consecutive blocks, sent at atNs.
    struct Send {
        qint64 atNs;
        int blocks;
    };
    struct Block {
        quint32 seq;
        qint64 dueNs;  // the schedule's time for its datagram
        qint64 sentNs; // just before the send; -1 when the kernel refused it
    };

    ParentSender();
    ~ParentSender();
    ParentSender(const ParentSender&) = delete;
    ParentSender& operator=(const ParentSender&) = delete;

    bool isOpen() const { return fd >= 0; }
    // Sends the schedule, numbering blocks from firstSeq on; returns at once.
    void start(std::vector<Send> schedule, quint32 firstSeq);
    // Waits for the last send; then blocks holds one entry per block.
    void wait();
    std::vector<Block> blocks;

    static constexpr int kBlockBytes = 512;
    // Its number in the first four bytes, a mark, then bytes that are never
    // the shield's idle pattern (FF 7F ...): the low bit of each odd byte is
    // clear.
    static QByteArray block(quint32 seq);
    // True, with *seq set, for a block made by block().
    static bool numberOf(const QByteArray& block, quint32* seq);

private:
    void run();
    int fd = -1;
    std::thread worker;
    std::vector<Send> schedule;
    quint32 firstSeq = 0;
};

#endif
