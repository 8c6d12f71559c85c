#ifndef RECEIVESTREAM_H
#define RECEIVESTREAM_H

#include "commands/crc_korvel2023.h"

#include <QByteArray>
#include <QList>

// Cuts shield frames out of the serial byte stream, whatever the chunking:
// a frame may arrive in pieces, and several may arrive together.
class ReceiveStream
{
public:
    // Appends a chunk and returns every complete frame with a valid
    // checksum, in order; anything else is dropped a byte at a time.
    QList<QByteArray> push(const QByteArray& chunk);
    int pending() const { return stream.size(); }
    void clear() { stream.clear(); }

private:
    QByteArray stream;
    CRC_Korvel2023 crc;
};

#endif
