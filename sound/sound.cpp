#include "sound/sound.h"

Sound::Sound()
    : dataToShieldNull(AUDIO_BLOCK_BYTES, char(0))
{
    for (int i = 0; i < AUDIO_BLOCK_BYTES; i += 2) {
        dataToShieldNull[i] = char(0xFF);
        dataToShieldNull[i + 1] = char(0x7F);
    }
}
