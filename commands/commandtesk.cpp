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
