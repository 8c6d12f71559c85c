#include "shield.h"

#include "options.h"
#include "simio.h"

#include "commands/commandtesk.h"
#include "rig/shieldpty.h"

using rig::AnsweringShield;

constexpr int kDialRepeatMs = 1000;

Shield::Shield(const Options& opts, rig::ShieldPty& line)
    : opts(opts), line(line),
      answering(rig::Identity{uint8_t(opts.version), uint8_t(opts.revision), uint16_t(opts.firmware),
                              uint8_t(opts.beta), {opts.uid[0], opts.uid[1], opts.uid[2]}},
                true)
{
    line.onRead = [this](const QByteArray& chunk) { received(chunk); };
    txClock.start();
    txTimer.setSingleShot(true);
    txTimer.setTimerType(Qt::PreciseTimer);
    connect(&txTimer, &QTimer::timeout, this, [this] { sendDue(); });
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
    say(stateLine());
}

QByteArray Shield::stateLine() const
{
    switch (answering.state()) {
    case AnsweringShield::Ringing: return "state ringing " + QByteArray::number(number);
    case AnsweringShield::Talking: return "state talking " + QByteArray::number(number);
    default: return "state idle";
    }
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
    say(stateLine());
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
    auto garbage = [this] {
        const QByteArray bytes = fromDriver.takeSkipped();
        if (!bytes.isEmpty())
            say("rx garbage " + hexBytes(bytes));
    };
    fromDriver.append(chunk);
    QByteArray frame;
    while (fromDriver.next(&frame)) {
        garbage();
        say("rx " + hexBytes(frame) + ' ' + codeName(CommandTESK(frame).cmd));
        const QByteArray answer = answering.answer(frame);
        if (!answer.isEmpty())
            sendFrame(answer, opts.delayMs);
        showState();
    }
    garbage();
}

void Shield::sendFrame(const QByteArray& frame, int delayMs)
{
    send(frame, codeName(CommandTESK(frame).cmd), delayMs);
}

void Shield::send(const QByteArray& bytes, const QByteArray& name, int delayMs)
{
    qint64 due = txClock.elapsed() + delayMs;
    if (!txQueue.isEmpty())
        due = qMax(due, txQueue.last().due);
    txQueue.append({due, bytes, name});
    sendDue();
}

void Shield::sendDue()
{
    const qint64 now = txClock.elapsed();
    while (!txQueue.isEmpty() && txQueue.first().due <= now) {
        const Pending p = txQueue.takeFirst();
        if (!line.send(p.bytes))
            printError(QStringLiteral("serial write failed: %1").arg(errnoText()));
        say("tx " + hexBytes(p.bytes) + ' ' + p.name);
    }
    if (!txQueue.isEmpty())
        txTimer.start(static_cast<int>(txQueue.first().due - now));
}
