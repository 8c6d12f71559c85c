#ifndef E2EHELPERS_H
#define E2EHELPERS_H

// Helpers shared by the end-to-end tests. Frames from the shield are built
// here with an independent CRC-8/MAXIM, so a faulty driver codec cannot
// agree with itself.

#include "support/drivertest.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace e2e {

// Shield codes the tests send.
enum : uint8_t {
    DIAL = 0x01,
    DROP = 0x04,
    PICKUP_DONE = 0x07,
    OPEN_1 = 0x08,
    OPEN_1_FREE_DONE = 0x22,
    VERSION = 0xA0,
    FIRMWARE = 0xA2,
    UID_0 = 0xA3,
    UID_1 = 0xA4,
    UID_2 = 0xA5,
};

// Frames the driver is expected to put on the line.
extern const QByteArray kCallFrame;      // FF 65 48 D1 02 ...
extern const QByteArray kPickupFrame;    // FF 65 48 D1 03 ...
extern const QByteArray kDropFrame;      // FF 65 48 D1 04 ...
extern const QByteArray kOpen1CallFrame; // FF 65 48 D1 08 ...
extern const QByteArray kOpen1Frame;     // FF 65 48 21 ...
extern const QByteArray kOpen2Frame;     // FF 65 48 23 ...

// A shield frame: command mode puts cmd in byte 3 and 5 data bytes after it;
// link mode puts D1 in byte 3, cmd in byte 4 and 4 data bytes. Short data is
// padded with FF.
QByteArray frame(uint8_t cmd, const QByteArray& data = QByteArray(), bool link = false);
// Dial data as the shield sends it: suffix, 0, prefix, 0.
QByteArray dialFrame(uint8_t suffix, uint8_t prefix = 0);
QString spaced(const QByteArray& bytes); // "FF 65 48 ..."

struct Identity {
    uint8_t version = 2;
    uint8_t revision = 5;
    uint16_t firmware = 529;
    uint8_t beta = 0;
    uint32_t id[3] = {1, 0xAB, 0xC0DE};
};
QByteArray identityAnswer(uint8_t request, const Identity& id);

// Waits for a frame equal to `expected` at index >= from; returns its index or -1.
int waitFrame(zmatest::FakeShieldPty& shield, const QByteArray& expected, int from, int timeoutMs);
// Frames from index `from` on, spaced hex.
QStringList framesFrom(zmatest::FakeShieldPty& shield, int from);

// A driver wired to a fake shield, with the log collector bound before it starts.
class Rig
{
public:
    zmatest::FakeShieldPty shield;
    zmatest::LogCollector log;
    zmatest::DriverProcess driver;

    Rig() { driver.setSerial(shield.portPath()); }

    // Starts the driver and answers the identity requests; true once the
    // info block has been printed whole.
    bool start(const QStringList& args = {}, const Identity& id = Identity());
    // Answers each identity request in turn as it appears on the line, from
    // the frame at index `from` on.
    bool answerIdentity(const Identity& id, int timeoutMs = 5000, int from = 0);

    int readyLines = 0;  // stdout lines up to the end of the info block
    int readyFrames = 0; // frames written during start-up
    QStringList linesAfterReady() { return driver.lines().mid(readyLines); }
    QStringList framesAfterReady() { return framesFrom(shield, readyFrames); }
    int countLine(const QString& line) { return driver.lines().count(line); }
    int countLog(const QString& source, const QByteArray& message)
    {
        return log.messages(source).count(message);
    }

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

// Generous time bounds for a shared noisy machine.
inline const int kPrompt = zmatest::scaled(300); // "on the next tick"
inline const int kWait = zmatest::scaled(5000); // anything that must happen eventually

} // namespace e2e

#endif
