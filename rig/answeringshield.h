#ifndef RIG_ANSWERINGSHIELD_H
#define RIG_ANSWERINGSHIELD_H

// The shield's answers and its call state, for every program that plays the
// shield: it says what to send, the caller puts it on the line.
//
// Answers in the frame mode of the request, never while silent: A0 -> A0
// version revision; A2 -> A2 firmware-low firmware-high beta; A3/A4/A5 ->
// same code with the UID word little-endian; CMD_PICKUP -> CMD_PICKUP_DONE;
// CMD_DROP -> CMD_DROP; CMD_OPEN_1/2 -> same code; CMD_OPEN_1_FREE/
// CMD_OPEN_2_FREE -> CMD_OPEN_1_FREE_DONE/CMD_OPEN_2_FREE_DONE. CMD_CALL
// gets none: a ringing line confirms it by dialling again. CMD_PICKUP turns
// a ringing call into talking, CMD_DROP ends any call; both are answered in
// any state. Silent, the state stays as it is too.

#include "rig/shieldframes.h"

namespace rig {

class ShieldPty;

class AnsweringShield
{
public:
    enum State { Idle, Ringing, Talking };

    // boardStyle: frames as the board writes them, from FF 48 65 with the
    // data padded with 00; else as frame() builds them.
    explicit AnsweringShield(const Identity& id = Identity(), bool boardStyle = false)
        : id(id), boardStyle(boardStyle) {}

    State state() const { return current; }
    bool silent = false;

    // The answer to a valid frame of the driver, or nothing.
    QByteArray answer(const QByteArray& request);
    // The line rings: its dial frame (data suffix 0 prefix 0), which dial()
    // repeats until the call is picked up or dropped.
    QByteArray ring(uint8_t suffix, uint8_t prefix = 0)
    {
        current = Ringing;
        return dialing = build(DIAL, QByteArray(1, char(suffix)) + '\0' + char(prefix) + '\0', true);
    }
    QByteArray dial() const { return dialing; }
    // The shield drops the call: its drop frame.
    QByteArray hangUp() { current = Idle; return build(DROP, QByteArray(), true); }

    // Answers each identity request in turn as it appears on the line, from
    // the frame at index `from` on; *missing: the request that did not come.
    bool answerIdentity(ShieldPty& line, int timeoutMs, int from = 0, uint8_t* missing = nullptr);

private:
    QByteArray build(uint8_t cmd, const QByteArray& data, bool link) const;

    const Identity id;
    const bool boardStyle;
    State current = Idle;
    QByteArray dialing;
};

} // namespace rig

#endif
