#ifndef BENCHDRIVER_H
#define BENCHDRIVER_H

// zma-driver as the bench runs it: a pty for the serial line, a SPI peer
// answering every exchange, its stdin, stdout and stderr on pipes of our own
// served by the hub, and the shield's identity answered at start-up.

#include "hub.h"
#include "rig/shieldpty.h"
#include "rig/spipeer.h"
#include "rig/driverprocess.h"

#include <QStringList>
#include <QTemporaryDir>

class BenchDriver
{
public:
    BenchDriver();
    ~BenchDriver();
    BenchDriver(const BenchDriver&) = delete;
    BenchDriver& operator=(const BenchDriver&) = delete;

    // Starts the driver with args and answers its identity requests; true
    // once it printed shield_ready. Says why on stdout when not.
    bool start(const QStringList& args = {});
    // Closes its stdin and waits up to 5 s for it to exit.
    void finish();

    QString dirPath() const { return dir.path(); }
    int stdinFd() const { return inFd; }
    qint64 pid() const { return driver.pid(); }
    int stderrLinesSinceReady() const { return int(hub.err.count('\n')) - stderrAtReady; }

private:
    QTemporaryDir dir; // first: the peer's socket is made in it

public:
    Hub hub;
    rig::ShieldPty line;
    rig::SpiPeer peer;
    bool exited = false;
    int exitCode = -1;

private:
    rig::DriverProcess driver;
    int inFd = -1;
    int stderrAtReady = 0;
};

#endif
