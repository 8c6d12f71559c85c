#include "shield.h"

#include "options.h"
#include "simio.h"

#include "commands/commandtesk.h"
#include "rig/shieldpty.h"
#include "zma/dialplan.h"

using rig::AnsweringShield;

namespace {

constexpr int kDialRepeatMs = 1000;

rig::Identity identityOf(const Options& o)
{
    return {uint8_t(o.version), uint8_t(o.revision), uint16_t(o.firmware), uint8_t(o.beta),
            {o.uid[0], o.uid[1], o.uid[2]}};
}

} // namespace

Shield::Shield(const Options& opts, rig::ShieldPty& line, QObject* parent)
    : QObject(parent), opts(opts), answering(identityOf(opts), true), tx(line)
{
    line.onRead = [this](const QByteArray& chunk) { received(chunk); };
}

void Shield::start()
{
    dialTimer.setInterval(kDialRepeatMs);
    connect(&dialTimer, &QTimer::timeout, this, [this] { sendFrame(answering.dial(), 0); });

    ringTimeout.setSingleShot(true);
    connect(&ringTimeout, &QTimer::timeout, this, [this] {
        if (answering.state() == AnsweringShield::Ringing)
            hangup();
    });

    if (opts.autoRing >= 0) {
        autoRingTimer.setInterval(opts.everyS * 1000);
        connect(&autoRingTimer, &QTimer::timeout, this, [this] {
            if (isIdle())
                ring(static_cast<uint8_t>(opts.autoRing));
        });
        autoRingTimer.start();
    }
    printLine(stateLine());
}

QByteArray Shield::stateLine() const
{
    switch (answering.state()) {
    case AnsweringShield::Ringing: return "state ringing " + QByteArray::number(number);
    case AnsweringShield::Talking: return "state talking " + QByteArray::number(number);
    default: return "state idle";
    }
}

void Shield::ringGate(uint8_t prefix, uint8_t suffix)
{
    startRing(suffix, prefix, DialPlan::combinePrefixSuffix(prefix, suffix));
}

void Shield::hangup()
{
    sendFrame(answering.hangUp(), 0);
    showState();
}

void Shield::showState()
{
    if (answering.state() == shown)
        return;
    shown = answering.state();
    if (shown != AnsweringShield::Ringing) {
        dialTimer.stop();
        ringTimeout.stop();
    }
    printLine(stateLine());
}

void Shield::startRing(uint8_t suffix, uint8_t prefix, int shownNumber)
{
    const QByteArray dial = answering.ring(suffix, prefix);
    number = shownNumber;
    showState();
    sendFrame(dial, 0);
    // A calling line keeps dialling until the flat answers or hangs up.
    dialTimer.start();
    const int timeoutS = opts.ringTimeoutS >= 0 ? opts.ringTimeoutS : (opts.autoRing >= 0 ? 20 : -1);
    if (timeoutS > 0)
        ringTimeout.start(timeoutS * 1000);
}

void Shield::received(const QByteArray& chunk)
{
    for (const FrameCutter::Piece& piece : cutter.push(chunk)) {
        if (piece.garbage) {
            printLine("rx garbage " + hexBytes(piece.bytes));
            continue;
        }
        printLine("rx " + hexBytes(piece.bytes) + ' ' + codeName(CommandTESK(piece.bytes).cmd));
        const QByteArray answer = answering.answer(piece.bytes);
        if (!answer.isEmpty())
            sendFrame(answer, opts.delayMs);
        showState();
    }
}

void Shield::sendFrame(const QByteArray& frame, int delayMs)
{
    tx.send(frame, codeName(CommandTESK(frame).cmd), delayMs);
}
