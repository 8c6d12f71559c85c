#ifndef FRAMEDECODER_H
#define FRAMEDECODER_H

// Describes one shield frame for people, through the driver's own codec:
//   to 48 from 65  cmd  CMD_DIAL  data 0C 00 2A 00 FF  apartment 12 (gate form 4212)  crc ok

#include <QByteArray>

class FrameDecoder
{
public:
    // frame: FRAME_SIZE bytes. With colour, ANSI escapes mark the checksum
    // verdict and the command.
    static QByteArray describe(const QByteArray& frame, bool colour);
};

#endif
