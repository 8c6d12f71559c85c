#ifndef CALLSTATUS_H
#define CALLSTATUS_H

#include <cstdint>

// The state of the intercom line. The model keeps it; the command sender
// reads it to choose how a frame is repeated.
constexpr uint8_t STATUS_FREE = 0;
constexpr uint8_t STATUS_CALL = 3;
constexpr uint8_t STATUS_PICKUP = 5;

#endif
