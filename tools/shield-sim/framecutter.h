#ifndef SHIELD_SIM_FRAMECUTTER_H
#define SHIELD_SIM_FRAMECUTTER_H

// Cuts the driver's bytes into valid frames and, for the rx lines, the
// bytes ReceiveStream dropped around them.

#include "commands/receivestream.h"

class FrameCutter
{
public:
    struct Piece {
        bool garbage;     // bytes outside any valid frame, else one frame
        QByteArray bytes;
    };

    // The pieces the chunk completes, in the order of the bytes.
    QList<Piece> push(const QByteArray& chunk);

private:
    ReceiveStream stream{ReceiveStream::kDefaultMaxPending, true};
};

#endif
