#ifndef HUB_H
#define HUB_H

// Everything the bench listens to, served from one poll loop that sleeps
// until something arrives, so its own wake-ups cost little and every read is
// stamped when it could first be made.

#include "rig/udpreceiver.h"
#include "rig/shieldpty.h"

#include "rig/runenv.h"

#include <QByteArray>
#include <functional>

class Hub
{
public:
    rig::UdpReceiver audio{20002};
    rig::ShieldPty* line = nullptr;
    int outFd = -1; // the driver's stdout and stderr, when they are ours
    int errFd = -1;
    QByteArray out, err;
    qint64 outAtNs = 0; // when the last stdout bytes were seen
    qint64 logDatagrams = 0;
    qint64 besideDatagrams = 0;
    std::function<void()> everySecond;

    Hub();
    ~Hub();
    Hub(const Hub&) = delete;
    Hub& operator=(const Hub&) = delete;

    bool isBound() const { return audio.isBound() && logFd >= 0; }
    // The datagrams of a reference running beside the driver are received
    // and read too, as the driver's are, so both pay for a delivery.
    bool listenBeside(quint16 port) { return (besideFd = boundUdp(port)) >= 0; }

    // Serves every source until done() holds or the deadline (monotonic ns)
    // passes; true if done() held.
    bool serveUntil(qint64 deadlineNs, const std::function<bool()>& done = {});
    void serveForMs(double ms);

private:
    int logFd = -1;
    int besideFd = -1;
    qint64 nextEvents = 0;
    qint64 nextSecond = 0;

    static int boundUdp(quint16 port);
    static qint64 drain(int fd);
    // True if bytes came; at end of file the descriptor is closed and dropped.
    static bool readPipe(int& fd, QByteArray& to);
};

#endif
