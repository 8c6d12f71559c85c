#include "loadrun.h"

#include "benchoptions.h"
#include "benchrig.h"
#include "rig/machinesample.h"
#include "rig/procsample.h"
#include "rig/runenv.h"
#include "rig/say.h"

#include <QStringList>
#include <algorithm>
#include <atomic>
#include <cstring>
#include <pthread.h>
#include <sched.h>
#include <thread>
#include <unistd.h>

using namespace rig;

namespace {

// Held to the driver as started.
constexpr int kMissedMax = 0;
constexpr double kP99DevMaxMs = 0.5;
constexpr int kLostMax = 0;

// Busy loops at normal priority, each ending by itself at its deadline even
// if nobody stops it.
class BusyLoops
{
public:
    BusyLoops(int n, qint64 untilNs)
    {
        for (int i = 0; i < n; ++i)
            threads.emplace_back([this, untilNs] {
                pthread_setname_np(pthread_self(), "bench-busy");
                // Started from a thread at the rig's real-time priority: back
                // to normal before the first turn, or not at all.
                const sched_param normal{};
                if (pthread_setschedparam(pthread_self(), SCHED_OTHER, &normal) != 0)
                    return;
                while (!done.load(std::memory_order_relaxed) && monotonicNs() < untilNs) {}
            });
    }
    ~BusyLoops() { stop(); }
    void stop()
    {
        done = true;
        for (std::thread& t : threads)
            if (t.joinable())
                t.join();
    }

private:
    std::atomic<bool> done{false};
    std::vector<std::thread> threads;
};

// The driver's main thread's policy and those of its threads at a real-time one.
QString policiesOf(qint64 pid)
{
    QStringList parts;
    const ProcSample s = ProcSample::take(pid);
    for (auto it = s.threads.cbegin(); it != s.threads.cend(); ++it) {
        const int policy = ::sched_getscheduler(pid_t(it.key()));
        sched_param p{};
        ::sched_getparam(pid_t(it.key()), &p);
        const QString name = policy == SCHED_FIFO ? "SCHED_FIFO" : policy == SCHED_RR ? "SCHED_RR" : "SCHED_OTHER";
        if (it.key() == pid || policy == SCHED_FIFO || policy == SCHED_RR)
            parts << QString("%1%2 %3%4").arg(it.value().first, it.key() == pid ? "(main)" : "", name,
                                                p.sched_priority ? QString(" %1").arg(p.sched_priority) : "");
    }
    return parts.join(", ");
}

} // namespace

bool LoadRun::raiseRig()
{
    sched_param p{};
    p.sched_priority = kRigPriority;
    const int err = pthread_setschedparam(pthread_self(), SCHED_FIFO, &p);
    if (err != 0)
        say("  the system refuses SCHED_FIFO to the bench (%s): the rig runs at normal priority, the run\n"
            "  with -rt-priority 0 is left out and the targets are not applied (root, RLIMIT_RTPRIO or\n"
            "  CAP_SYS_NICE grants it)\n",
            strerror(err));
    return err == 0;
}

void LoadRun::lowerRig()
{
    const sched_param normal{};
    pthread_setschedparam(pthread_self(), SCHED_OTHER, &normal);
}

bool LoadRun::run(const BenchOptions& o)
{
    busyLoops = std::max(1, int(sysconf(_SC_NPROCESSORS_ONLN))) * o.busyPerCore;
    say("load, driver %s: %s\n", qPrintable(label), ZMA_DRIVER_PATH);
    BenchRig rig; // its SPI peer's thread takes this thread's policy
    Parent parent; // and so does its sender's
    // Whatever the bench runs at, the driver starts at normal priority: what
    // it asks for itself is what is measured. (The redirections of its
    // standard streams are added to this when it starts.)
    rig.driver.proc.setup = [] {
        const sched_param normal{};
        ::sched_setscheduler(0, SCHED_OTHER, &normal);
    };
    if (!rig.startSettled(parent, args, o.warmup))
        return false;
    policies = policiesOf(rig.driver.pid());
    say("  threads: %s\n", qPrintable(policies));

    // The loads are up by then; half an exchange after the driver's, as in
    // the latency runs, so the blocks' delays compare with theirs.
    const qint64 start = LatencyRun::alignedStart(rig.peer.exchanges(), monotonicNs() + 200 * kMs, Parent::kPeriodNs / 2);
    const qint64 end = start + qint64(o.loadSeconds * kSec);
    std::vector<Parent::Send> schedule;
    for (qint64 at = start; at < end; at += Parent::kPeriodNs)
        schedule.push_back({at, 1});
    say("  %d busy loops (%d a core) and one block every 16 ms for %.0f s\n", busyLoops, o.busyPerCore,
        o.loadSeconds);
    rig.serveUntil(monotonicNs()); // what is already there belongs to before
    BusyLoops busy(busyLoops, end + kSec);
    std::future<std::vector<Parent::Block>> sending = parent.send(schedule, 1);
    rig.serveUntil(start);
    say("  bench: %s\n", qPrintable(policiesOf(getpid())));
    const MachineSample m0 = MachineSample::take();
    rig.audio.keep = true;
    rig.serveUntil(end);
    rig.audio.keep = false;
    const MachineSample m1 = MachineSample::take();
    busy.stop();
    rig.serveUntil(end + qint64(Parent::kDrainS * kSec));
    cadence = Cadence::of(rig.audio.datagrams, Parent::kPeriodNs / 1e6, Parent::kBlockBytes);
    rig.audio.datagrams.clear();
    // The blocks are numbered: the peer's whole log can be searched for them.
    blocks = LatencyRun::Delay::parentToShield(sending.get(), rig.peer.exchanges(), start);
    if (m1.total > m0.total)
        machineBusy = double(m1.busy - m0.busy) / double(m1.total - m0.total) * 100.0;
    stderrLines = rig.err.split('\n');
    stderrLines.removeAll(QByteArray());
    const QString ending = rig.finishDriver();
    say("  %d missed, p99 |period - 16 ms| %.3f ms, max %.3f ms; %d of %d blocks lost; driver %s\n", cadence.missed,
        cadence.p99DevMs, cadence.maxDevMs, blocks.lost, blocks.sent, qPrintable(ending));
    ran = true;
    return true;
}

void LoadRun::report(const std::vector<LoadRun>& runs, bool rigAtFifo, Verdict& verdict)
{
    const LoadRun& first = runs.front(); // the driver as started: always there
    say("\nload: one numbered block every 16 ms from the parent to UDP 20003; %d busy loops at SCHED_OTHER\n"
        "on %ld cores; the rig's threads (SPI peer, parent, UDP receiver) at %s\n",
        first.busyLoops, sysconf(_SC_NPROCESSORS_ONLN),
        rigAtFifo ? qPrintable(QString("SCHED_FIFO %1").arg(kRigPriority)) : "normal priority (SCHED_FIFO refused)");
    QString head = QString("  %1").arg("", -40);
    for (const LoadRun& r : runs)
        head += QString(" %1").arg(r.label, 16);
    say("%s\n", qPrintable(head));
    const auto row = [&](const char* label, auto of, int decimals) {
        QString line = QString("  %1").arg(label, -40);
        for (const LoadRun& r : runs)
            line += QString(" %1").arg(figure(of(r), decimals, r.ran), 16);
        say("%s\n", qPrintable(line));
    };
    using LR = const LoadRun&;
    row("audio datagrams at UDP 20002", [](LR r) { return double(r.cadence.datagrams); }, 0);
    row("missed exchanges (gap > 24 ms)", [](LR r) { return double(r.cadence.missed); }, 0);
    row("doubled (gap < 8 ms)", [](LR r) { return double(r.cadence.doubled); }, 0);
    row("p99 |period - 16 ms| (ms)", [](LR r) { return r.cadence.p99DevMs; }, 3);
    row("max |period - 16 ms| (ms)", [](LR r) { return r.cadence.maxDevMs; }, 3);
    row("mean period (ms)", [](LR r) { return r.cadence.meanMs; }, 4);
    row("blocks sent by the parent", [](LR r) { return double(r.blocks.sent); }, 0);
    row("blocks lost (trimmed or dropped)", [](LR r) { return double(r.blocks.lost); }, 0);
    row("block delay to the SPI peer, p50 (ms)", [](LR r) { return r.blocks.all.p50; }, 1);
    row("block delay to the SPI peer, p99 (ms)", [](LR r) { return r.blocks.all.p99; }, 1);
    row("parent sent late, max (ms)", [](LR r) { return r.blocks.senderLate.max; }, 2);
    row("machine busy, % of all cores", [](LR r) { return r.machineBusy; }, 1);
    for (const LoadRun& r : runs) {
        if (!r.ran) {
            say("  %s: did not run\n", qPrintable(r.label));
            continue;
        }
        say("  %s: %s\n", qPrintable(r.label), qPrintable(r.policies));
        for (const QByteArray& line : r.stderrLines.mid(0, 3))
            say("    driver's stderr: %s\n", line.left(200).constData());
    }

    say("\ntargets under load (the driver as started)\n");
    const bool have = first.ran && rigAtFifo;
    const Cadence& c = first.cadence;
    const LatencyRun::Delay& b = first.blocks;
    verdict.checkIf(have, c.datagrams > 0 && c.missed <= kMissedMax, " missed exchanges %d (bound %d)", c.missed,
                    kMissedMax);
    verdict.checkIf(have, c.datagrams > 0 && c.p99DevMs <= kP99DevMaxMs,
                    " cadence p99 |deviation| %.3f ms (bound %g ms)", c.p99DevMs, kP99DevMaxMs);
    verdict.checkIf(have, b.sent > 0 && b.lost <= kLostMax, " blocks lost %d of %d (bound %d)", b.lost, b.sent,
                    kLostMax);
    // The rig keeping time is what makes the figures the driver's.
    if (have && b.senderLate.max > 2)
        say("  note: the parent's sender itself woke up to %.2f ms late\n", b.senderLate.max);
}
