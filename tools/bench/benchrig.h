#ifndef BENCHRIG_H
#define BENCHRIG_H

// The simulated world as the bench runs it: the rig (the shield's pty, the
// driver, its log received as a parent would), the SPI peer, the parent's
// audio receivers and zma-bench-ref, all served from one poll loop that
// sleeps until something arrives, so the bench's own wake-ups cost little and
// every read is stamped when it could first be made.

#include "rig/childprocess.h"
#include "rig/rig.h"
#include "rig/spipeer.h"

#include <QTemporaryDir>
#include <memory>

class BenchRig : public rig::Rig
{
public:
    BenchRig();
    ~BenchRig();

private:
    QTemporaryDir dir; // first: the peers' sockets are made in it

public:
    rig::UdpReceiver audio{20002};
    // A reference beside the driver sends here; read as the driver's are,
    // so both pay for a delivery.
    rig::UdpReceiver beside{20012};
    rig::SpiPeer peer; // the driver's, or the reference's when it runs alone
    std::unique_ptr<rig::SpiPeer> besidePeer;
    QByteArray out, err; // what the driver wrote to stdout and stderr
    qint64 outAtNs = 0;  // when the last stdout bytes were seen

    bool isBound() const { return audio.isBound() && log.isBound(); }

    // Starts the driver and answers its identity requests; true once it printed
    // shield_ready (said with the time to settle), else says why on stdout.
    bool startDriver(const QStringList& args, double warmupS);
    // Closes its stdin and waits up to 5 s for it to exit; says how it ended.
    QString finishDriver();
    int stdinFd() const { return inPipe.writeFd(); }
    int stderrLinesSinceReady() const { return int(err.count('\n')) - stderrAtReady; }

    // zma-bench-ref alone, with the rig's peer (its stderr is ours), or beside
    // the driver, with a peer of its own (until stopBeside()); its pid or -1.
    qint64 startReference(bool besideDriver);
    void stopBeside() { besideReference.finish(); }

    // Serves every source until done() holds (true) or the deadline (monotonic ns).
    bool serveUntil(qint64 deadlineNs, const std::function<bool()>& done = {});
    void serveForMs(double ms) { serveUntil(rig::monotonicNs() + qint64(ms * rig::kMs)); }

private:
    // Its stdin, stdout and stderr on pipes of our own: QProcess reads its
    // pipes only when the event loop runs, and writes when it gets round to it.
    rig::HeldPipe inPipe{true}, outPipe, errPipe;
    int stderrAtReady = 0;
    bool lineHeld = false; // polled only then: a pty not held reports a hang-up at every poll
    qint64 nextEvents = 0;
    rig::ChildProcess reference, besideReference;
};

#endif
