#ifndef BENCHRIG_H
#define BENCHRIG_H

// The simulated world as the bench runs it: the rig (the shield's pty, the
// driver, its log received as a parent would), the SPI peer, the parent's
// audio receivers and the two floors of zma-bench-ref beside the driver,
// all served from one poll loop that sleeps until something arrives, so the
// bench's own wake-ups cost little and every read is stamped when it could
// first be made.

#include "parent.h"
#include "rig/childprocess.h"
#include "rig/rig.h"
#include "rig/spipeer.h"

#include <QTemporaryDir>
#include <cmath>
#include <memory>

// A figure in the bench's tables: "-" where it could not be taken.
inline QString figure(double v, int decimals, bool have = true)
{
    return have && !std::isnan(v) ? QString::number(v, 'f', decimals) : QStringLiteral("-");
}

class BenchRig : public rig::Rig
{
public:
    // A zma-bench-ref beside the driver: its audio comes to a port of its
    // own, read as the driver's is (so both pay for a delivery), and it
    // exchanges with a SPI peer of its own.
    struct Floor {
        Floor(const QString& name, const QStringList& args, quint16 port) : name(name), args(args), audio(port) {}
        const QString name;
        const QStringList args; // before the port
        rig::UdpReceiver audio;
        std::unique_ptr<rig::SpiPeer> peer;
        rig::ChildProcess proc;
    };

    BenchRig();
    ~BenchRig() { stopFloors(); }

private:
    QTemporaryDir dir; // first: the peers' sockets are made in it

public:
    rig::UdpReceiver audio{20002};
    rig::SpiPeer peer; // the driver's
    Floor design{"design floor", {}, 20012}, physical{"physical floor", {"--physical"}, 20013};
    QByteArray out, err; // what the driver wrote to stdout and stderr
    qint64 outAtNs = 0;  // when the last stdout bytes were seen

    bool isBound() const { return audio.isBound() && log.isBound() && design.audio.isBound() && physical.audio.isBound(); }

    // Starts the driver and answers its identity requests; true once it printed
    // shield_ready (said with the time to settle), else says why on stdout.
    bool startDriver(const QStringList& args, double warmupS);
    // The same, then lets it settle, for a run the parent feeds; false, said,
    // where the parent has no socket either.
    bool startSettled(const Parent& parent, const QStringList& args, double warmupS);
    // Closes its stdin and waits up to 5 s for it to exit; says how it ended.
    QString finishDriver();
    int stdinFd() const { return inPipe.writeFd(); }
    int stderrLinesSinceReady() const { return int(err.count('\n')) - stderrAtReady; }

    // Starts the floor (its stderr is ours) until stopFloors(); its pid or -1.
    qint64 startFloor(Floor& f);
    void stopFloors() { design.proc.finish(); physical.proc.finish(); }
    // Gives the floors' audio threads the policy the driver's audio thread
    // got (SCHED_FIFO where it asked and was granted): a thread at normal
    // priority is preempted by the wake-ups it causes (the SPI peer's, the
    // receiver's), which count as switches of its own. Says what it did.
    QString matchFloorsToDriver();

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
};

#endif
