#ifndef SOUND_H
#define SOUND_H

#include "sound/audiostats.h"
#include "utils/datatransmission.h"

#include <QByteArray>

constexpr int AUDIO_BLOCK_BYTES = 512;

// Audio blocks shared by the SPI exchange and the UDP objects.
class Sound
{
public:
    Sound();

    DataTransmission dataToShieldBuffer;
    QByteArray dataToShieldNull;
    AudioStats stats;
};

#endif
