#ifndef SOUND_H
#define SOUND_H

#include "sound/audioblock.h"
#include "sound/audiostats.h"
#include "utils/datatransmission.h"

#include <QByteArray>

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
