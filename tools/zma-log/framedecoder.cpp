#include "framedecoder.h"

#include "commands/commandtesk.h"
#include "zma/dialplan.h"

namespace {
const char* const kBold = "\033[1m";
const char* const kGreen = "\033[32m";
const char* const kRed = "\033[1;31m";
const char* const kReset = "\033[0m";

QByteArray hexByte(uint8_t b)
{
    return QByteArray::number(b, 16).rightJustified(2, '0').toUpper();
}
}

QByteArray FrameDecoder::describe(const QByteArray& frame, bool colour)
{
    // The driver's decoder computes the checksum into crc instead of keeping
    // the one received: it is the expected one.
    const CommandTESK cmd(frame);
    const uint8_t received = frame.size() > 9 ? static_cast<uint8_t>(frame.at(9)) : 0;
    auto paint = [colour](const char* code, const QByteArray& text) {
        return colour ? code + text + kReset : text;
    };

    QByteArray out;
    out.reserve(96);
    out += "to " + hexByte(static_cast<uint8_t>(frame.at(1)));
    out += " from " + hexByte(static_cast<uint8_t>(frame.at(2)));
    out += cmd.mode == MODE_LINK ? "  link " : "  cmd  ";
    const char* name = commandName(cmd.cmd);
    out += paint(kBold, name ? QByteArray(name) : "cmd=0x" + hexByte(cmd.cmd));
    out += "  data " + cmd.data.toHex(' ').toUpper();
    if (cmd.cmd == CMD_DIAL) {
        // Both forms: the log does not say which one the driver runs with.
        out += "  apartment " + QByteArray::number(DialPlan::calcDial(&cmd.data));
        out += " (gate form " + QByteArray::number(DialPlan::calcDialGatesMode(&cmd.data)) + ')';
    }
    if (cmd.crc == received)
        out += "  " + paint(kGreen, "crc ok");
    else
        out += "  " + paint(kRed, "crc BAD (expected " + hexByte(cmd.crc) + ')');
    return out;
}
