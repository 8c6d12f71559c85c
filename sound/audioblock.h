#ifndef AUDIOBLOCK_H
#define AUDIOBLOCK_H

// One SPI exchange carries one block each way, every 16 ms.
constexpr int AUDIO_BLOCK_BYTES = 512;
// At most this many blocks (160 ms) wait for the shield; a parent that runs
// fast loses its oldest audio instead of growing the delay.
constexpr int AUDIO_MAX_QUEUED_BLOCKS = 10;

#endif
