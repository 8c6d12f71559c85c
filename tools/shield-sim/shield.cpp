#include "shield.h"

#include "options.h"
#include "simio.h"

#include "commands/commandtesk.h"
#include "rig/shieldpty.h"
#include "zma/dialplan.h"

namespace {

// Byte 1 of a frame is its receiver, byte 2 its sender: the driver writes
// FF 65 48, the shield answers FF 48 65.
constexpr uint8_t kDriverAddr = 0x48;
constexpr uint8_t kShieldAddr = 0x65;

constexpr int kDialRepeatMs = 1000;

QByteArray shieldFrame(int mode, uint8_t cmd, const QByteArray& data)
{
    // toArray() writes addressBUD to byte 1 and addressZMA to byte 2.
    return CommandTESK(mode, kShieldAddr, kDriverAddr, cmd, data).toArray();
}

} // namespace

Shield::Shield(const Options& opts, rig::ShieldPty& line, QObject* parent)
    : QObject(parent), opts(opts), tx(line)
{
    line.onRead = [this](const QByteArray& chunk) { received(chunk); };
}

void Shield::start()
{
    dialTimer.setInterval(kDialRepeatMs);
    connect(&dialTimer, &QTimer::timeout, this, [this] { sendFrame(dialFrame, 0); });

    ringTimeout.setSingleShot(true);
    connect(&ringTimeout, &QTimer::timeout, this, [this] {
        if (state == Ringing)
            hangup();
    });

    if (opts.autoRing >= 0) {
        autoRingTimer.setInterval(opts.everyS * 1000);
        connect(&autoRingTimer, &QTimer::timeout, this, [this] {
            if (state == Idle)
                ring(static_cast<uint8_t>(opts.autoRing));
        });
        autoRingTimer.start();
    }
    printLine(stateLine());
}

QByteArray Shield::stateLine() const
{
    switch (state) {
    case Ringing: return "state ringing " + QByteArray::number(number);
    case Talking: return "state talking " + QByteArray::number(number);
    default: return "state idle";
    }
}

void Shield::ring(uint8_t apartment)
{
    startRing(bytesOf({apartment, 0, 0, 0}), apartment);
}

void Shield::ringGate(uint8_t prefix, uint8_t suffix)
{
    startRing(bytesOf({suffix, 0, prefix, 0}), DialPlan::combinePrefixSuffix(prefix, suffix));
}

void Shield::hangup()
{
    sendFrame(shieldFrame(MODE_LINK, CMD_DROP, QByteArray(4, '\0')), 0);
    setState(Idle);
}

void Shield::setState(State s)
{
    if (s == state)
        return;
    state = s;
    if (state != Ringing) {
        dialTimer.stop();
        ringTimeout.stop();
    }
    printLine(stateLine());
}

void Shield::startRing(const QByteArray& data, int shownNumber)
{
    dialFrame = shieldFrame(MODE_LINK, CMD_DIAL, data);
    number = shownNumber;
    setState(Ringing);
    sendFrame(dialFrame, 0);
    // A calling line keeps dialling until the flat answers or hangs up.
    dialTimer.start();
    const int timeoutS = opts.ringTimeoutS >= 0 ? opts.ringTimeoutS : (opts.autoRing >= 0 ? 20 : -1);
    if (timeoutS > 0)
        ringTimeout.start(timeoutS * 1000);
}

void Shield::received(const QByteArray& chunk)
{
    for (const FrameCutter::Piece& piece : cutter.push(chunk)) {
        if (piece.garbage)
            printLine("rx garbage " + hexBytes(piece.bytes));
        else
            handleFrame(piece.bytes);
    }
}

void Shield::handleFrame(const QByteArray& frame)
{
    const CommandTESK c(frame);
    printLine("rx " + hexBytes(frame) + ' ' + codeName(c.cmd));
    if (silent)
        return;
    auto answer = [&](uint8_t cmd, const QByteArray& data) {
        sendFrame(shieldFrame(c.mode, cmd, data), opts.delayMs);
    };
    const QByteArray zero(5, '\0');
    switch (c.cmd) {
    case CMD_READ_VERSION_ZMA:
        answer(c.cmd, bytesOf({opts.version, opts.revision, 0, 0, 0}));
        break;
    case CMD_READ_VERSION_FIRMWARE:
        answer(c.cmd, bytesOf({opts.firmware & 0xFF, opts.firmware >> 8, opts.beta, 0, 0}));
        break;
    case CMD_READ_UID_0:
    case CMD_READ_UID_1:
    case CMD_READ_UID_2:
        answer(c.cmd, le32(opts.uid[c.cmd - CMD_READ_UID_0]) + '\0');
        break;
    case CMD_PICKUP:
        answer(CMD_PICKUP_DONE, zero);
        if (state == Ringing)
            setState(Talking);
        break;
    case CMD_DROP:
        answer(CMD_DROP, zero);
        setState(Idle);
        break;
    case CMD_OPEN_1:
    case CMD_OPEN_2:
        answer(c.cmd, zero);
        break;
    case CMD_OPEN_1_FREE:
        answer(CMD_OPEN_1_FREE_DONE, zero);
        break;
    case CMD_OPEN_2_FREE:
        answer(CMD_OPEN_2_FREE_DONE, zero);
        break;
    default:
        break;
    }
}

void Shield::sendFrame(const QByteArray& frame, int delayMs)
{
    tx.send(frame, codeName(CommandTESK(frame).cmd), delayMs);
}
