#ifndef RIG_RIG_H
#define RIG_RIG_H

// The simulated world in one place: the real driver wired to a shield on a
// pty, with its log collected from before it starts. Tests and tools build
// their scenarios on it.

#include "rig/answeringshield.h"
#include "rig/driverprocess.h"
#include "rig/heldpipe.h"
#include "rig/logcollector.h"
#include "rig/runenv.h"
#include "rig/shieldframes.h"
#include "rig/shieldpty.h"

#include <QStringList>

namespace rig {

class Rig
{
public:
    ShieldPty shield;
    LogCollector log;
    DriverProcess driver;

    explicit Rig(int logBufferBytes = 4 << 20) : log(logBufferBytes) { driver.setSerial(shield.portPath()); }

    // Starts the driver and answers the identity requests; true once the
    // info block has been printed whole.
    bool start(const QStringList& args = {}, const Identity& id = Identity());
    // AnsweringShield::answerIdentity on this rig's line.
    bool answerIdentity(const Identity& id, int timeoutMs = 5000, int from = 0, uint8_t* missing = nullptr)
    {
        return AnsweringShield(id).answerIdentity(shield, timeoutMs, from, missing);
    }
    // For a driver whose stdout goes to `out` (driver.lines() stays empty
    // then): reads it into text until the info block is whole, then leaves
    // in text what came after the block.
    bool waitReady(HeldPipe& out, QByteArray& text, int timeoutMs = kWait);

    int readyLines = 0;  // stdout lines up to the end of the info block
    int readyFrames = 0; // frames written during start-up
    QStringList linesAfterReady() { return driver.lines().mid(readyLines); }
    QStringList framesAfterReady() { return shield.framesFrom(readyFrames); }
    int countLog(const QString& source, const QByteArray& message) { return log.messages(source).count(message); }

    // Sends a dial from the shield and waits for the driver's status line.
    bool dial(uint8_t suffix, const QString& expectLine, uint8_t prefix = 0);
    // Puts the driver in the ringing state: dial 12 and the call frame.
    bool ring();
    // Ringing, then the shield confirms the pickup.
    bool pickedUp();
    // Loads a dial plan that blocks just this apartment; true once the
    // driver has confirmed the lists.
    bool blockOnly(int apartment);

    // Returns once the console thread has handled every line written so far:
    // a "11" line only prints to stderr, so it disturbs nothing else.
    bool consoleBarrier(int timeoutMs = 5000);

private:
    int barriers = 0;
};

} // namespace rig

#endif
