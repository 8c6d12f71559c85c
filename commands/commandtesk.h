#ifndef COMMANDTESK_H
#define COMMANDTESK_H

#include "commands/crc_korvel2023.h"

#include <QByteArray>
#include <cstdint>

constexpr uint8_t FRAME_START = 0xFF;
constexpr uint8_t LINK_MARKER = 0xD1;
constexpr int FRAME_SIZE = 10;
constexpr int MODE_CMD = 0;
constexpr int MODE_LINK = 1;

// Outgoing codes.
constexpr uint8_t CMD_CALL = 0x02;
constexpr uint8_t CMD_PICKUP = 0x03;
constexpr uint8_t CMD_DROP = 0x04;
constexpr uint8_t CMD_OPEN_1 = 0x08;
constexpr uint8_t CMD_OPEN_2 = 0x09;
constexpr uint8_t CMD_OPEN_1_FREE = 0x21;
constexpr uint8_t CMD_OPEN_2_FREE = 0x23;
constexpr uint8_t CMD_READ_VERSION_ZMA = 0xA0;
constexpr uint8_t CMD_READ_VERSION_FIRMWARE = 0xA2;
constexpr uint8_t CMD_READ_UID_0 = 0xA3;
constexpr uint8_t CMD_READ_UID_1 = 0xA4;
constexpr uint8_t CMD_READ_UID_2 = 0xA5;

// Incoming codes (besides CMD_DROP, CMD_OPEN_1/2 and the identity answers).
constexpr uint8_t CMD_DIAL = 0x01;
constexpr uint8_t CMD_PICKUP_DONE = 0x07;
constexpr uint8_t CMD_OPEN_1_FREE_DONE = 0x22;
constexpr uint8_t CMD_OPEN_2_FREE_DONE = 0x24;

// The name of a command code as the code above spells it, or nullptr for a
// code the driver does not know. For the tools that show frames to people.
const char* commandName(uint8_t cmd);
// The door (1 or 2) a door command to the shield opens, free or in a call;
// 0 for any other code.
int doorOfCommand(uint8_t cmd);

// One 10-byte shield frame as a value.
class CommandTESK
{
public:
    CommandTESK() = default;
    CommandTESK(int mode, uint8_t addrZMA, uint8_t addrBUD, uint8_t cmd, QByteArray data);
    // Decodes a received frame that has already passed the checksum.
    explicit CommandTESK(QByteArray readData);

    QByteArray toArray() const;

    int mode = MODE_CMD;
    uint8_t addressZMA = 0;
    uint8_t addressBUD = 0;
    uint8_t cmd = 0;
    QByteArray data = QByteArray(5, char(0xFF));
    uint8_t crc = 0;
    CRC_Korvel2023 crcKorvel2023;
};

#endif
