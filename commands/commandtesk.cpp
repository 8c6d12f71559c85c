#include "commands/commandtesk.h"

CommandTESK::CommandTESK(int mode, uint8_t addrZMA, uint8_t addrBUD, uint8_t cmd, QByteArray data)
    : mode(mode), addressZMA(addrZMA), addressBUD(addrBUD), cmd(cmd), data(std::move(data))
{
    crc = crcKorvel2023.calc(toArray());
}

CommandTESK::CommandTESK(QByteArray readData)
{
    readData.resize(FRAME_SIZE);
    if (static_cast<uint8_t>(readData.at(3)) == LINK_MARKER) {
        mode = MODE_LINK;
        cmd = static_cast<uint8_t>(readData.at(4));
        data = readData.mid(5, 4);
    } else {
        mode = MODE_CMD;
        cmd = static_cast<uint8_t>(readData.at(3));
        data = readData.mid(4, 5);
    }
    addressZMA = static_cast<uint8_t>(readData.at(1));
    addressBUD = static_cast<uint8_t>(readData.at(2));
    crc = crcKorvel2023.calc(readData);
}

QByteArray CommandTESK::toArray() const
{
    QByteArray out(FRAME_SIZE, char(0xFF));
    out[0] = char(FRAME_START);
    out[1] = char(addressBUD);
    out[2] = char(addressZMA);
    // Short data is padded with 0xFF, extra bytes are ignored.
    auto dataByte = [this](int i) { return i < data.size() ? data.at(i) : char(0xFF); };
    if (mode == MODE_CMD) {
        out[3] = char(cmd);
        for (int i = 0; i < 5; ++i)
            out[4 + i] = dataByte(i);
    } else if (mode == MODE_LINK) {
        out[3] = char(LINK_MARKER);
        out[4] = char(cmd);
        for (int i = 0; i < 4; ++i)
            out[5 + i] = dataByte(i);
    }
    out[9] = char(crc);
    return out;
}

const char* commandName(uint8_t cmd)
{
    switch (cmd) {
    case CMD_DIAL: return "CMD_DIAL";
    case CMD_CALL: return "CMD_CALL";
    case CMD_PICKUP: return "CMD_PICKUP";
    case CMD_DROP: return "CMD_DROP";
    case CMD_PICKUP_DONE: return "CMD_PICKUP_DONE";
    case CMD_OPEN_1: return "CMD_OPEN_1";
    case CMD_OPEN_2: return "CMD_OPEN_2";
    case CMD_OPEN_1_FREE: return "CMD_OPEN_1_FREE";
    case CMD_OPEN_1_FREE_DONE: return "CMD_OPEN_1_FREE_DONE";
    case CMD_OPEN_2_FREE: return "CMD_OPEN_2_FREE";
    case CMD_OPEN_2_FREE_DONE: return "CMD_OPEN_2_FREE_DONE";
    case CMD_READ_VERSION_ZMA: return "CMD_READ_VERSION_ZMA";
    case CMD_READ_VERSION_FIRMWARE: return "CMD_READ_VERSION_FIRMWARE";
    case CMD_READ_UID_0: return "CMD_READ_UID_0";
    case CMD_READ_UID_1: return "CMD_READ_UID_1";
    case CMD_READ_UID_2: return "CMD_READ_UID_2";
    default: break;
    }
    return nullptr;
}

int doorOfCommand(uint8_t cmd)
{
    switch (cmd) {
    case CMD_OPEN_1_FREE:
    case CMD_OPEN_1:
        return 1;
    case CMD_OPEN_2_FREE:
    case CMD_OPEN_2:
        return 2;
    default:
        return 0;
    }
}
