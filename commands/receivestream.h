#ifndef RECEIVESTREAM_H
#define RECEIVESTREAM_H

#include "commands/crc_korvel2023.h"

#include <QByteArray>
#include <QList>

// Cuts shield frames out of the serial byte stream, whatever the chunking:
// a frame may arrive in pieces, and several may arrive together. The bytes
// waiting for the decoder are bounded: past the bound the oldest go.
class ReceiveStream
{
public:
    // About a third of a second of a full line at 115200 baud.
    static constexpr int kDefaultMaxPending = 4096;

    // keepSkipped: a tool that shows the line keeps the bytes no valid
    // frame took, for takeSkipped(); the driver only drops them.
    explicit ReceiveStream(int maxPending = kDefaultMaxPending, bool keepSkipped = false);

    // Appends a chunk and returns every complete frame with a valid
    // checksum, in order; anything else is dropped a byte at a time.
    QList<QByteArray> push(const QByteArray& chunk);
    // Appends a chunk without decoding it.
    void append(const QByteArray& chunk);
    // Takes out the next valid frame, skipping what cannot start one.
    bool next(QByteArray* frame);
    int pending() const { return stream.size() - head; }
    // The bytes still waiting for a frame to start in them.
    QByteArray pendingBytes() const { return stream.mid(head); }
    void clear();
    // Bytes dropped for the bound since the last call.
    qint64 takeOverflow();
    // With keepSkipped, the bytes skipped or dropped for the bound since the
    // last call, in the order of the stream.
    QByteArray takeSkipped();

private:
    void compact();
    void skip(int from, int to);

    QByteArray stream;
    int head = 0;
    int maxPending;
    qint64 overflow = 0;
    bool keepSkipped;
    QByteArray skipped;
    CRC_Korvel2023 crc;
};

#endif
