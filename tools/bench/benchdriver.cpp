#include "benchdriver.h"

#include "rig/say.h"
#include "rig/shieldframes.h"
#include "rig/procsample.h"

#include <fcntl.h>
#include <unistd.h>

using namespace rig;

namespace {

bool makePipe(int fds[2])
{
    return ::pipe2(fds, O_CLOEXEC) == 0;
}

} // namespace

BenchDriver::BenchDriver()
    : peer(dir.path() + "/spi.sock")
{
}

BenchDriver::~BenchDriver()
{
    if (inFd >= 0)
        ::close(inFd);
}

bool BenchDriver::start(const QStringList& args)
{
    if (!hub.isBound() || !line.isOpen()) {
        say("  cannot bind UDP 20002/20004 or open a pty (another driver running? use run-bench.sh)\n");
        return false;
    }
    hub.line = &line;

    // Our own pipes, not QProcess's: those are read only when the event loop
    // runs, and a write through QProcess leaves when it gets round to it.
    int in[2], out[2], err[2];
    if (!makePipe(in) || !makePipe(out) || !makePipe(err)) {
        say("  cannot make pipes\n");
        return false;
    }
    driver.setSerial(line.portPath());
    driver.setSpi(dir.path() + "/spi.sock");
    driver.redirect(STDIN_FILENO, in[0]);
    driver.redirect(STDOUT_FILENO, out[1]);
    driver.redirect(STDERR_FILENO, err[1]);
    const bool started = driver.start(args);
    for (int fd : {in[0], out[1], err[1]})
        ::close(fd);
    inFd = in[1];
    hub.outFd = out[0];
    hub.errFd = err[0];
    for (int fd : {hub.outFd, hub.errFd})
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);

    // Start-up: answer each identity request as it appears on the line.
    int from = 0;
    bool ready = started;
    for (uint8_t request : {VERSION, FIRMWARE, UID_0, UID_1, UID_2}) {
        int at = -1;
        ready = ready && hub.serveUntil(monotonicNs() + 5 * kSec, [&] { return (at = line.find(frame(request), from)) >= 0; });
        if (!ready)
            break;
        from = at + 1;
        line.send(identityAnswer(request, Identity()));
    }
    ready = ready && hub.serveUntil(monotonicNs() + 5 * kSec, [&] { return hub.out.contains("\nshield_ready\n\n"); });
    if (!ready) {
        say("  driver did not reach shield_ready; stdout so far:\n%s\n", hub.out.constData());
        finish();
        return false;
    }
    stderrAtReady = int(hub.err.count('\n'));
    return true;
}

void BenchDriver::finish()
{
    if (inFd >= 0)
        ::close(inFd);
    inFd = -1;
    exited = hub.serveUntil(monotonicNs() + 5 * kSec, [&] { return !driver.running(); });
    exitCode = exited ? driver.exitCode() : -1;
}
