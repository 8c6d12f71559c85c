// zma-soak: runs the built zma-driver for minutes against the fake shield
// (a pty) and the SPI peer while faults come at random moments, plays calls
// through it, then prints what it counted with a PASS/FAIL line per figure.
// The driver binds fixed UDP ports: run it through run-soak.sh, which gives
// it a private network namespace.

#include "rig/say.h"
#include "rig/heldpipe.h"
#include "rig/rig.h"
#include "rig/spipeer.h"
#include "rig/refcrc.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QSet>
#include <QTemporaryDir>
#include <algorithm>
#include <arpa/inet.h>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <netinet/in.h>
#include <numeric>
#include <sys/socket.h>
#include <unistd.h>

using namespace rig;

namespace {

constexpr qint64 kTickNs = 16000000;
constexpr int kStepMs = 5000;   // bound for any step of a call or a fault
constexpr int kPromptMs = 1000; // bound for the driver's answers at the end
constexpr qint64 kRssBoundKb = 1024;
constexpr double kCpuBound = 0.25; // share of one core over the whole run
constexpr double kCpuBound5s = 0.50; // in any 5 s: a spin in a short fault shows here
constexpr qint64 kGapBoundMs = 100;
constexpr int kAudioSlack = 2;
const QByteArray kOpened = "DEBUG: USART: Успешно открыт порт";
const QByteArray kClosed = "DEBUG: USART: порт закрыт после ошибки";
const QByteArray kLineLost = "ERROR: stdout: a status line was lost";
const QByteArray kParentMagic = "PAR!";

// What the parent sends: a magic, a counter, bytes from the counter; so the
// blocks the line gets can be checked whole and in order.
QByteArray parentBlock(quint32 n)
{
    QByteArray b(512, Qt::Uninitialized);
    for (int i = 0; i < 512; ++i)
        b[i] = char((n * 13 + i * 3) & 0xFF);
    std::memcpy(b.data(), kParentMagic.constData(), 4);
    std::memcpy(b.data() + 4, &n, 4);
    return b;
}

// A diagnostics summary line stands for the count it carries.
long long occurrences(const QByteArray& line)
{
    const int at = line.lastIndexOf(" (repeated ");
    if (at < 0 || !line.endsWith(" times)"))
        return 1;
    return line.mid(at + 11, line.size() - at - 11 - 7).toLongLong();
}

// A UDP listener of our own: a large buffer, so a busy moment of this tool
// loses nothing, and kernel arrival stamps, so gaps are the driver's own.
class UdpIn
{
public:
    explicit UdpIn(quint16 p) : port(p)
    {
        fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        int size = 16 << 20, on = 1;
        if (::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size) != 0)
            ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
        ::setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bound = fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    ~UdpIn()
    {
        if (fd >= 0)
            ::close(fd);
    }
    bool bound = false;
    template <typename F> void drain(F f)
    {
        static char buf[65536];
        char ctl[CMSG_SPACE(sizeof(timespec))];
        for (;;) {
            iovec iov{buf, sizeof buf};
            msghdr m{};
            m.msg_iov = &iov;
            m.msg_iovlen = 1;
            m.msg_control = ctl;
            m.msg_controllen = sizeof ctl;
            const ssize_t n = ::recvmsg(fd, &m, 0);
            if (n < 0)
                return;
            qint64 ns = 0;
            for (cmsghdr* c = CMSG_FIRSTHDR(&m); c; c = CMSG_NXTHDR(&m, c))
                if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
                    timespec ts;
                    std::memcpy(&ts, CMSG_DATA(c), sizeof ts);
                    ns = qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
                }
            f(buf, int(n), ns);
        }
    }
    // Datagrams the kernel dropped at a socket bound to this port (-1 unknown).
    qint64 drops() const { return udpDrops(port); }
    static qint64 udpDrops(quint16 port)
    {
        QFile f("/proc/net/udp");
        if (!f.open(QIODevice::ReadOnly))
            return -1;
        const QByteArray local = ":" + QByteArray::number(port, 16).toUpper().rightJustified(4, '0');
        for (const QByteArray& line : f.readAll().split('\n')) {
            const QList<QByteArray> fields = line.simplified().split(' ');
            if (fields.size() > 12 && fields.at(1).endsWith(local))
                return fields.last().toLongLong();
        }
        return -1;
    }

private:
    quint16 port;
    int fd = -1;
};

// Descriptors of a process, by kind ("socket", "pipe", "anon_inode:[eventfd]", a path).
std::map<QString, int> fdKinds(qint64 pid)
{
    std::map<QString, int> kinds;
    const QDir dir(QStringLiteral("/proc/%1/fd").arg(pid));
    for (const QString& name : dir.entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System)) {
        char buf[4096];
        const ssize_t n = ::readlink(QFile::encodeName(dir.filePath(name)).constData(), buf, sizeof buf - 1);
        QString target = QString::fromLocal8Bit(buf, n > 0 ? int(n) : 0);
        const int bracket = target.indexOf(":[");
        if (bracket > 0 && !target.startsWith("anon_inode"))
            target = target.left(bracket);
        if (target.startsWith("/dev/pts/"))
            target = "/dev/pts/N";
        ++kinds[target.isEmpty() ? QStringLiteral("?") : target];
    }
    return kinds;
}

int fdCount(const std::map<QString, int>& kinds)
{
    int n = 0;
    for (const auto& k : kinds)
        n += k.second;
    return n;
}

QString fdText(const std::map<QString, int>& kinds)
{
    QStringList parts;
    for (const auto& k : kinds)
        parts << QStringLiteral("%1 %2").arg(k.second).arg(k.first);
    return parts.join(", ");
}

// Time a thread has waited for a CPU (run queue), in ns; -1 if unknown.
qint64 runQueueWaitNs(qint64 pid, qint64 tid)
{
    QFile f(QStringLiteral("/proc/%1/task/%2/schedstat").arg(pid).arg(tid));
    if (tid < 0 || !f.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = f.readAll().simplified().split(' ');
    return fields.size() >= 2 ? fields.at(1).toLongLong() : -1;
}

// The machine's CPU pressure: microseconds some task waited for a CPU.
qint64 cpuPressureUs()
{
    QFile f("/proc/pressure/cpu");
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = f.readAll();
    const int at = text.indexOf("total=");
    return at < 0 ? -1 : text.mid(at + 6, text.indexOf('\n', at) - at - 6).toLongLong();
}

qint64 threadNamed(qint64 pid, const QByteArray& name)
{
    const QDir dir(QStringLiteral("/proc/%1/task").arg(pid));
    for (const QString& tid : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile f(dir.filePath(tid) + "/comm");
        if (f.open(QIODevice::ReadOnly) && f.readAll().trimmed() == name)
            return tid.toLongLong();
    }
    return -1;
}

enum Fault { Hangup, SpiKill, Junk, UdpFlood, UdpSilence, StdoutPause, Dialplan, kFaults };
const char* const kFaultNames[kFaults] = {"shield hang-up", "SPI peer killed", "junk on the line", "UDP flood",
                                          "UDP silence", "stdout pause", "dial-plan reload in a call"};

class Soak
{
public:
    Soak(double minutes, quint32 seed, bool verbose)
        : runMs(qint64(minutes * 60000)), seed(seed), verbose(verbose), rng(seed)
    {
        clock.start();
    }
    int run();

private:
    // ---- time, randomness
    qint64 now() const { return clock.elapsed(); }
    // A stall ends the run, but the wind-down and the last checks still wait.
    bool stopping() const { return fatal && !windingDown; }
    int uni(int lo, int hi) { return lo + int(rng.bounded(quint32(hi - lo + 1))); }
    bool chance(int percent) { return uni(1, 100) <= percent; }
    void note(const char* fmt, ...) __attribute__((format(printf, 2, 3)));

    // ---- the peers, pumped about every millisecond
    void pump();
    void pumpShield();
    void pumpAudio();
    void pumpLog();
    void pumpStderr();
    void pumpStdout();
    void pumpParentAudio();
    void pumpFaults();
    void sample();
    void printLosses();
    void stdoutLine(const QByteArray& line);
    bool sendLine(const QByteArray& bytes); // to the driver's serial port, whole
    void parent(const QByteArray& line) { driver.writeRaw(line + '\n'); }

    // ---- steps: wait for what an action must bring, within a bound
    void mark();
    bool await(const char* what, const std::function<bool()>& cond, int ms = kStepMs);
    bool logSeen(const QByteArray& message) const;
    bool frameSeen(const QByteArray& f) const { return seenFrames.contains(f); }
    bool allLinesIn() const { return gotCtl.size() >= expCtl.size() && gotCon.size() >= expCon.size(); }
    bool barrier(const char* what);
    void idle(qint64 ms, bool faults = true);

    // ---- calls and faults
    bool start();
    void call();
    bool ring();
    bool door(int which);
    bool pickup();
    bool parentDrop();
    bool shieldDrop();
    void serialFault();
    void hangUp();
    void junk();
    void pauseStdout();
    void reloadDialplan();
    void killSpi();
    void restartSpi();
    void closePeer();
    void checkLine(const QList<SpiPeer::Exchange>& ex);
    void pickFault();
    void windDown();
    void finalChecks();
    int report();
    bool figure(bool ok, const char* fmt, ...) __attribute__((format(printf, 3, 4)));

    const qint64 runMs;
    const quint32 seed;
    const bool verbose;
    QRandomGenerator rng;
    QElapsedTimer clock;

    QTemporaryDir dir;
    ShieldPty shield;
    std::unique_ptr<SpiPeer> peer;
    HeldPipe out;
    UdpIn audioIn{20002}, logIn{20004};
    int udpOut = -1;
    DriverProcess driver;
    bool fatal = false;
    QStringList stalls;

    // shield
    enum { Idle, Ringing, Talking } state = Idle;
    int ringNumber = 0;
    qint64 nextDialAt = 0;
    QList<QByteArray> seenFrames; // from the driver since the last mark
    std::map<QByteArray, int> driverFrames;
    int badDriverFrames = 0, unexpectedFrames = 0;
    int rings = 0, ringsBlocked = 0, repeatDials = 0, shieldAnswers = 0, shieldDrops = 0;
    int pickups = 0, doorsInCall = 0, doorsFree = 0, parentDrops = 0, hangupDrops = 0;
    qint64 junkBytes = 0;
    QSet<int> blocked;

    // status lines: controller lines (dial, drop) and console replies apart,
    // since the two threads' lines may interleave either way
    QList<QByteArray> expCtl, expCon, gotCtl, gotCon;
    QByteArray outText;
    qint64 fillerLines = 0;
    bool paused = false;
    qint64 pauseUntil = 0, pausedMs = 0;

    // stderr
    QByteArray errText, errPartial;
    long long opened = 0, closed = 0, linesLostReported = 0, serialDropLines = 0, udpDropLines = 0, spiDiag = 0;

    // log
    QList<QPair<QByteArray, QByteArray>> recentLog; // since the last mark
    qint64 logDatagrams = 0, logLost = 0, errorCmd = 0;

    // audio to the parent
    bool counting = false;
    qint64 firstAtMs = 0, firstNs = -1, lastNs = -1, audioTotal = 0, audioIdle = 0, audioAnswers = 0, audioBad = 0;
    qint64 audioMisordered = 0, maxGapNs = 0, maxGapAtMs = 0, gapsOver24 = 0;
    struct PeerLife {
        qint64 next = 0, late = 0, answered = -1;
    };
    std::vector<PeerLife> lives;
    // Where the cadence broke, and whether the audio thread waited for a CPU
    // then (the driver's timer does not catch up a tick it woke too late for).
    struct Sched {
        qint64 atMs, spiWaitNs, pressureUs;
    };
    std::vector<Sched> sched; // every 100 ms of the run
    Sched schedNow();
    std::vector<qint64> arrivals; // kernel stamps of the counted datagrams
    qint64 spiTid = -1, nextSchedAt = 0;
    Sched schedBoot{0, 0, 0}, schedEnd{0, 0, 0};
    qint64 countAtKill = 0, spiBackAt = 0, spiGoneMs = 0;

    // audio from the parent
    enum { Normal, Flood, Silence } udpMode = Normal;
    qint64 udpModeUntil = 0, nextBlockAt = 0, floodStart = 0, floodSent = 0;
    quint32 parentSeq = 0;
    qint64 parentDatagrams = 0, parentFailed = 0, driverSocketDrops = -1, floodDatagrams = 0, silenceMs = 0;
    qint64 lineParent = 0, lineIdle = 0, lineBad = 0, lineMisordered = 0;
    qint64 lastAtLine = -1;

    // faults
    int thrown[kFaults] = {};
    bool due[kFaults] = {};
    std::vector<int> warmOrder;
    qint64 nextFaultAt = 0;
    bool inSerialFault = false, windingDown = false;
    qint64 hangDownMs = 0;
    int barriers = 0;

    // process figures
    qint64 rssBoot = -1, rssStart = -1, rssEnd = -1, rssMax = -1, nextRssAt = 0, warmAt = -1;
    double cpuBoot = 0, cpuEnd = 0, busiest5s = 0;
    QList<QPair<qint64, double>> cpuSamples;
    qint64 nextCpuAt = 0, nextProgressAt = 60000;
    std::map<QString, int> fdBoot, fdWarm, fdEnd;
    int steps = 0;
    qint64 slowestStep = 0;
    QString slowestWhat;
    QStringList lastChecks;
    bool lastChecksOk = false;
    int exitCode = -1;
    bool exitedNormally = false;
    qint64 endMs = 0;
    int figuresFailed = 0;
};

void Soak::note(const char* fmt, ...)
{
    if (!verbose)
        return;
    printf("  [%7.2f s] ", now() / 1000.0);
    va_list ap;
    va_start(ap, fmt);
    vprintf(fmt, ap);
    va_end(ap);
    printf("\n");
    fflush(stdout);
}

// ------------------------------------------------------------ pumping

void Soak::pump()
{
    pumpShield();
    pumpAudio();
    pumpLog();
    pumpStderr();
    pumpStdout();
    pumpParentAudio();
    pumpFaults();
    sample();
    if (!fatal && !driver.running()) {
        stalls << QStringLiteral("%1 s: the driver exited (status %2)").arg(now() / 1000.0).arg(driver.exitCode());
        fatal = true;
    }
}

bool Soak::sendLine(const QByteArray& bytes)
{
    // A one-byte write to the pty is all or nothing; a longer one may be cut.
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < bytes.size();) {
        if (shield.send(bytes.mid(i, 1))) {
            ++i;
        } else if (!shield.isOpen() || t.elapsed() > kStepMs) {
            return false;
        } else {
            pumpAudio();
            pumpLog();
            spin(1);
        }
    }
    return true;
}

void Soak::pumpShield()
{
    shield.pump();
    for (const ShieldPty::Frame& fr : shield.frames) {
        const QByteArray& f = fr.bytes;
        if (uint8_t(f.at(0)) != 0xFF || refCrc8(f, 1, 9) != uint8_t(f.at(9))) {
            ++badDriverFrames;
            continue;
        }
        seenFrames << f;
        ++driverFrames[f];
        const bool link = uint8_t(f.at(3)) == 0xD1;
        const uint8_t code = uint8_t(f.at(link ? 4 : 3));
        // Answers as the shield does; a call is confirmed by dialling again.
        QByteArray answer;
        if (link && code == PICKUP) {
            answer = frame(PICKUP_DONE, QByteArray(), true);
            if (state == Ringing)
                state = Talking;
        } else if (link && code == DROP) {
            answer = frame(DROP, QByteArray(), true);
            state = Idle;
        } else if (link && (code == OPEN_1 || code == OPEN_2)) {
            answer = frame(code, QByteArray(), true);
        } else if (!link && code == OPEN_1_FREE) {
            answer = frame(OPEN_1_FREE_DONE);
        } else if (!link && code == OPEN_2_FREE) {
            answer = frame(OPEN_2_FREE_DONE);
        } else if (!(link && code == CALL)) {
            ++unexpectedFrames;
        }
        if (!answer.isEmpty()) {
            ++shieldAnswers;
            sendLine(answer);
        }
    }
    shield.frames.clear();
    if (state == Ringing && now() >= nextDialAt) {
        nextDialAt = now() + 1000;
        ++repeatDials;
        sendLine(dialFrame(uint8_t(ringNumber)));
    }
}

void Soak::pumpAudio()
{
    audioIn.drain([this](const char* p, int n, qint64 ns) {
        if (!counting)
            return;
        if (firstNs < 0) {
            firstNs = ns;
            firstAtMs = now();
        }
        else if (ns - lastNs > maxGapNs) {
            maxGapNs = ns - lastNs;
            maxGapAtMs = firstAtMs + (lastNs - firstNs) / 1000000;
        }
        if (lastNs >= 0 && ns - lastNs > kTickNs * 3 / 2)
            ++gapsOver24;
        lastNs = ns;
        arrivals.push_back(ns);
        ++audioTotal;
        const QByteArray b = QByteArray::fromRawData(p, n);
        if (n != 512) {
            ++audioBad;
        } else if (SpiPeer::isIdle(b)) {
            ++audioIdle;
        } else {
            quint32 seq;
            std::memcpy(&seq, p, 4);
            if (b != SpiPeer::answerFor(seq)) {
                ++audioBad;
                return;
            }
            ++audioAnswers;
            // Answers of one peer go out in order; a skipped one came too
            // late for its exchange and the board library sent idle words.
            PeerLife& life = lives.back();
            if (qint64(seq) >= life.next) {
                life.late += seq - life.next;
                life.next = qint64(seq) + 1;
            } else {
                ++audioMisordered;
            }
        }
    });
}

void Soak::pumpLog()
{
    logIn.drain([this](const char* p, int n, qint64) {
        ++logDatagrams;
        const QByteArray d(p, n);
        const int open = d.indexOf("] [");
        const int close = d.indexOf("]: ", open + 3);
        if (!d.startsWith("[Debug][") || open < 0 || close < 0 || !d.endsWith("\r\n"))
            return;
        const QByteArray source = d.mid(open + 3, close - open - 3);
        const QByteArray message = d.mid(close + 3, d.size() - close - 5);
        if (source == "main" && message.startsWith("Log lines lost: "))
            logLost += message.mid(16).toLongLong();
        if (source == "Controller" && message == "ERROR CMD")
            ++errorCmd;
        if (source == "Controller" || source == "Console") {
            if (recentLog.size() > 50000)
                recentLog.erase(recentLog.begin(), recentLog.begin() + 25000);
            recentLog.append({source, message});
        }
    });
}

void Soak::pumpStderr()
{
    const QByteArray got = driver.proc.readAllStandardError();
    if (got.isEmpty())
        return;
    errText += got;
    errPartial += got;
    int eol;
    while ((eol = errPartial.indexOf('\n')) >= 0) {
        const QByteArray line = errPartial.left(eol);
        errPartial.remove(0, eol + 1);
        if (line.startsWith(kOpened))
            opened += occurrences(line);
        else if (line.startsWith(kClosed))
            closed += occurrences(line);
        else if (line.startsWith(kLineLost))
            linesLostReported += occurrences(line);
        else if (line.contains("received bytes dropped"))
            ++serialDropLines;
        else if (line.startsWith("ERROR: UDP audio: dropped"))
            ++udpDropLines;
        else if (line.startsWith("board: SPI peer"))
            ++spiDiag;
    }
}

void Soak::stdoutLine(const QByteArray& line)
{
    if (!line.isEmpty() && line.count('~') == line.size()) {
        ++fillerLines;
        return;
    }
    const bool ctl = line == "drop" || (line.startsWith("dial ") && line.endsWith(" 0"));
    (ctl ? gotCtl : gotCon) << line;
}

void Soak::pumpStdout()
{
    if (paused)
        return;
    outText += out.readAvailable();
    int eol;
    while ((eol = outText.indexOf('\n')) >= 0) {
        stdoutLine(outText.left(eol));
        outText.remove(0, eol + 1);
    }
}

void Soak::pumpParentAudio()
{
    if (udpOut < 0)
        return;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(20003);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    auto send = [&](int blocks) {
        QByteArray d;
        for (int i = 0; i < blocks; ++i)
            d += parentBlock(parentSeq++);
        if (::sendto(udpOut, d.constData(), size_t(d.size()), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) == d.size())
            ++parentDatagrams;
        else
            ++parentFailed;
    };
    const qint64 t = now();
    if (udpMode != Normal && t >= udpModeUntil) {
        note("%s ends", udpMode == Flood ? "UDP flood" : "UDP silence");
        udpMode = Normal;
        nextBlockAt = t;
    }
    if (udpMode == Normal) {
        // The parent's pace, one block per 16 ms; a late loop catches up a little.
        if (t - nextBlockAt > 100)
            nextBlockAt = t;
        for (; nextBlockAt <= t; nextBlockAt += 16)
            send(1);
    } else if (udpMode == Flood) {
        // 3000 datagrams a second of one to three blocks: about 100 times the pace.
        for (const qint64 due = (t - floodStart) * 3; floodSent < due; ++floodSent, ++floodDatagrams)
            send(uni(1, 3));
    }
}

Soak::Sched Soak::schedNow()
{
    return {now(), runQueueWaitNs(driver.pid(), spiTid), cpuPressureUs()};
}

void Soak::printLosses()
{
    // Datagrams missing by each arrival: a late one raises the count for a
    // moment, a lost tick for good; so the rises of its minimum over the rest
    // of the run are where ticks were lost.
    const size_t n = arrivals.size();
    std::vector<qint64> low(n);
    for (size_t i = n; i-- > 0;) {
        const qint64 d = qint64(std::llround(double(arrivals[i] - arrivals[0]) / kTickNs)) - qint64(i);
        low[i] = i + 1 < n ? std::min(d, low[i + 1]) : d;
    }
    auto around = [&](qint64 fromMs, qint64 toMs) {
        Sched a = sched.front(), b = sched.back();
        for (const Sched& e : sched) {
            if (e.atMs <= fromMs)
                a = e;
            if (e.atMs >= toMs) {
                b = e;
                break;
            }
        }
        return std::make_pair((b.spiWaitNs - a.spiWaitNs) / 1000000,
                              int((b.pressureUs - a.pressureUs) / 10 / std::max<qint64>(1, b.atMs - a.atMs)));
    };
    qint64 total = 0, starved = 0;
    int shown = 0;
    QStringList more;
    for (size_t i = 1; i < n; ++i) {
        if (low[i] <= low[i - 1])
            continue;
        const qint64 ticks = low[i] - low[i - 1], gapMs = (arrivals[i] - arrivals[i - 1]) / 1000000;
        const qint64 atMs = firstAtMs + (arrivals[i - 1] - firstNs) / 1000000;
        // The sample span around the gap: the audio thread's wait for a CPU then.
        const auto w = around(atMs - 100, atMs + gapMs + 100);
        total += ticks;
        starved += w.first >= kTickNs / 1000000 ? ticks : 0;
        const QString text = QStringLiteral("%1 at %2 s (gap %3 ms; around it the audio thread waited %4 ms for a CPU, "
                                            "CPU pressure %5%)")
                                 .arg(ticks).arg(atMs / 1000.0, 0, 'f', 1).arg(gapMs).arg(w.first).arg(w.second);
        if (shown++ < 12)
            say("        lost %s\n", qPrintable(text));
        else
            more << text;
    }
    if (!more.isEmpty())
        say("        ... and %d more\n", int(more.size()));
    say("        ticks lost for good: %lld, %lld of them where the audio thread had waited 16 ms or more for a CPU\n",
        total, starved);
}

void Soak::sample()
{
    const qint64 t = now();
    if (t >= nextSchedAt && counting) {
        nextSchedAt = t + 100;
        sched.push_back(schedNow());
    }
    if (t >= nextRssAt) {
        nextRssAt = t + 100;
        rssMax = std::max(rssMax, driver.rssKb());
    }
    if (t >= nextCpuAt) {
        nextCpuAt = t + 1000;
        const double cpu = driver.cpuSeconds();
        if (cpu >= 0) {
            cpuSamples.append({t, cpu});
            while (cpuSamples.size() > 1 && t - cpuSamples.first().first > 5000)
                cpuSamples.removeFirst();
            const auto& a = cpuSamples.first();
            if (t - a.first >= 4500)
                busiest5s = std::max(busiest5s, (cpu - a.second) / ((t - a.first) / 1000.0));
        }
    }
    if (t >= nextProgressAt) {
        nextProgressAt += 60000;
        int faults = 0;
        for (int n : thrown)
            faults += n;
        say("  [%3lld min] rings %d, faults %d, audio datagrams %lld, RSS %lld KiB, CPU %.1f s\n", t / 60000, rings,
            faults, audioTotal, driver.rssKb(), driver.cpuSeconds() - cpuBoot);
    }
}

// ------------------------------------------------------------ steps

void Soak::mark()
{
    seenFrames.clear();
    recentLog.clear();
}

bool Soak::logSeen(const QByteArray& message) const
{
    for (const auto& l : recentLog)
        if (l.second == message)
            return true;
    return false;
}

bool Soak::await(const char* what, const std::function<bool()>& cond, int ms)
{
    if (stopping())
        return false;
    QElapsedTimer t;
    t.start();
    const bool ok = waitUntil([&] { return stopping() || cond(); }, ms, [&] { pump(); }) && !stopping();
    ++steps;
    if (t.elapsed() > slowestStep) {
        slowestStep = t.elapsed();
        slowestWhat = what;
    }
    if (!ok && !stopping()) {
        stalls << QStringLiteral("%1 s: %2: not within %3 ms").arg(now() / 1000.0, 0, 'f', 1).arg(what).arg(ms);
        fatal = true;
    }
    return ok;
}

bool Soak::barrier(const char* what)
{
    // "11 HEX" only echoes on stderr: once it is there, every earlier line
    // has been handled by the console thread.
    const QByteArray tag = QByteArray::number(0xE000 + (++barriers & 0xFFF), 16);
    const int from = errText.size();
    parent("11 " + tag);
    return await(what, [&] { return errText.indexOf("message send:  \"" + tag, from) >= 0; });
}

void Soak::idle(qint64 ms, bool faults)
{
    const qint64 until = now() + ms;
    while (!stopping() && now() < until) {
        pump();
        if (faults)
            serialFault();
        spin(1);
    }
}

// ------------------------------------------------------------ calls

bool Soak::start()
{
    udpOut = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (!audioIn.bound || !logIn.bound || udpOut < 0) {
        say("  FAIL  cannot bind UDP 20002/20004 (another driver running? use run-soak.sh)\n");
        return false;
    }
    const QString spiPath = dir.path() + "/spi";
    peer = std::make_unique<SpiPeer>(spiPath);
    lives.push_back({});
    driver.setSerial(shield.portPath());
    driver.setSpi(spiPath);
    // A pipe we read only when we choose: the parent that pauses.
    driver.redirect(STDOUT_FILENO, out.writeFd());
    if (!driver.start({"-ic", "102"})) {
        say("  FAIL  cannot start %s\n", ZMA_DRIVER_PATH);
        return false;
    }
    const Identity id;
    int from = 0;
    for (uint8_t request : {VERSION, FIRMWARE, UID_0, UID_1, UID_2}) {
        const int at = shield.waitFrame(frame(request), from, kStepMs);
        if (at < 0) {
            say("  FAIL  no identity request %02X from the driver\n", request);
            return false;
        }
        from = at + 1;
        shield.send(identityAnswer(request, id));
    }
    const bool ready = waitUntil([&] {
        outText += out.readAvailable();
        pumpStderr();
        return outText.contains("\nshield_ready\n\n");
    }, kStepMs);
    if (!ready || !waitUntil([&] { return peer->count() > 0; }, kStepMs)) {
        say("  FAIL  the driver did not get to shield_ready with the SPI peer answering\n");
        return false;
    }
    outText.remove(0, outText.indexOf("\nshield_ready\n\n") + 15);
    shield.pump();
    shield.frames.clear();
    audioIn.drain([](const char*, int, qint64) {});
    counting = true;
    spiTid = threadNamed(driver.pid(), "ThreadSpiTransm"); // Qt names a QThread by its class
    schedBoot = schedNow();
    sched.push_back(schedBoot);
    rssBoot = driver.rssKb();
    cpuBoot = driver.cpuSeconds();
    fdBoot = fdKinds(driver.pid());
    say("  driver pid %lld ready after %.1f s: RSS %lld KiB, %d descriptors (%s)\n", driver.pid(), now() / 1000.0,
        rssBoot, fdCount(fdBoot), qPrintable(fdText(fdBoot)));
    return true;
}

bool Soak::ring()
{
    const bool block = !blocked.isEmpty() && chance(25);
    int n = 0;
    if (block) {
        const QList<int> list = blocked.values();
        n = list.at(uni(0, list.size() - 1));
    } else {
        do
            n = uni(1, 200);
        while (blocked.contains(n));
    }
    mark();
    ++rings;
    expCtl << "dial " + QByteArray::number(n) + " 0";
    if (block) {
        ++ringsBlocked;
        expCtl << "drop";
        sendLine(dialFrame(uint8_t(n)));
        await("a blocked ring refused", [&] { return logSeen("isBlockPhone Drop"); });
        return false;
    }
    sendLine(dialFrame(uint8_t(n)));
    if (!await("call frame after a ring", [&] { return logSeen("STATUS_FREE Dial") && frameSeen(kCallFrame); }))
        return false;
    state = Ringing;
    ringNumber = n;
    nextDialAt = now() + 1000;
    return true;
}

bool Soak::door(int which)
{
    // While ringing the door frame waits for the shield's next dial.
    const auto before = state;
    QByteArray wantFrame, wantLog;
    if (before == Idle) {
        wantFrame = which == 1 ? kOpen1Frame : kOpen2Frame;
        wantLog = which == 1 ? "Success OP1" : "Success OP2";
        ++doorsFree;
    } else {
        wantFrame = frame(which == 1 ? OPEN_1 : OPEN_2, QByteArray(), true);
        wantLog = QByteArray(before == Ringing ? "STATUS_CALL" : "STATUS_PICKUP") + " Открыта дверь " + QByteArray::number(which);
        ++doorsInCall;
    }
    mark();
    parent("open " + QByteArray::number(which));
    return await("door frame and its answer", [&] { return frameSeen(wantFrame) && logSeen(wantLog); });
}

bool Soak::pickup()
{
    mark();
    ++pickups;
    parent("pickup");
    return await("pickup frame and the shield's answer",
                 [&] { return frameSeen(kPickupFrame) && logSeen("STATUS_CALL pickup"); });
}

bool Soak::parentDrop()
{
    const QByteArray wantLog = state == Ringing ? "STATUS_CALL Drop" : "STATUS_PICKUP Drop";
    mark();
    ++parentDrops;
    expCtl << "drop";
    parent("drop");
    return await("drop frame and the shield's answer", [&] { return frameSeen(kDropFrame) && logSeen(wantLog); });
}

bool Soak::shieldDrop()
{
    const QByteArray wantLog = state == Ringing ? "STATUS_CALL Drop" : "STATUS_PICKUP Drop";
    mark();
    ++shieldDrops;
    state = Idle;
    expCtl << "drop";
    sendLine(frame(DROP, QByteArray(), true));
    return await("the shield's drop handled", [&] { return logSeen(wantLog); });
}

// One call: rung, maybe a door while ringing, then picked up and talked
// through or dropped by either side; faults may come between any two steps,
// and a hang-up ends the call on its own.
void Soak::call()
{
    if (!ring())
        return;
    auto still = [&](int lo, int hi) {
        idle(uni(lo, hi));
        return !stopping() && state != Idle;
    };
    if (!still(200, 2500))
        return;
    if (chance(20) && (!door(uni(1, 2)) || !still(100, 1500)))
        return;
    const int end = uni(1, 100);
    if (end <= 15) {
        parentDrop();
        return;
    }
    if (end <= 30) {
        shieldDrop();
        return;
    }
    if (!pickup() || !still(200, 3000))
        return;
    for (int doors = uni(0, 3); doors > 0; --doors)
        if (!door(uni(1, 2)) || !still(100, 2000))
            return;
    if (chance(60))
        parentDrop();
    else
        shieldDrop();
}

// ------------------------------------------------------------ faults

void Soak::pickFault()
{
    if (warmOrder.empty() && warmAt < 0 && nextFaultAt == 0) {
        for (int f = 0; f < kFaults; ++f)
            warmOrder.push_back(f);
        for (int i = kFaults - 1; i > 0; --i)
            std::swap(warmOrder[size_t(i)], warmOrder[size_t(uni(0, i))]);
    }
    int f;
    if (!warmOrder.empty()) {
        f = warmOrder.front();
        warmOrder.erase(warmOrder.begin());
    } else {
        f = uni(0, kFaults - 1);
    }
    bool busy = due[f];
    if (f == SpiKill)
        busy = !peer;
    else if (f == UdpFlood || f == UdpSilence)
        busy = udpMode != Normal;
    if (busy) {
        if (warmAt < 0)
            warmOrder.push_back(f);
        return;
    }
    if (f == SpiKill) {
        killSpi();
    } else if (f == UdpFlood || f == UdpSilence) {
        ++thrown[f];
        const int ms = f == UdpFlood ? uni(1000, 6000) : uni(1000, 8000);
        udpMode = f == UdpFlood ? Flood : Silence;
        udpModeUntil = now() + ms;
        floodStart = now();
        floodSent = 0;
        if (f == UdpSilence)
            silenceMs += ms;
        note("%s for %d ms", kFaultNames[f], ms);
    } else {
        due[f] = true; // the serial line, stdout and stdin wait for a point between steps
    }
}

void Soak::pumpFaults()
{
    if (!peer && now() >= spiBackAt)
        restartSpi();
    if (paused && now() >= pauseUntil) {
        paused = false;
        note("stdout read again");
    }
    if (windingDown)
        return;
    if (now() >= nextFaultAt) {
        pickFault();
        nextFaultAt = now() + uni(1500, 8000);
    }
    // Measured with everything connected, as at start-up and at the end.
    if (warmAt < 0 && warmOrder.empty() && peer && peer->count() > 0 && !inSerialFault && udpMode == Normal && !paused
        && std::all_of(std::begin(thrown), std::end(thrown), [](int n) { return n > 0; })) {
        warmAt = now();
        rssStart = driver.rssKb();
        fdWarm = fdKinds(driver.pid());
        say("  warm-up done at %.1f s (every fault once): RSS %lld KiB, %d descriptors\n", warmAt / 1000.0, rssStart,
            fdCount(fdWarm));
    }
}

void Soak::serialFault()
{
    if (inSerialFault || windingDown)
        return;
    inSerialFault = true;
    if (due[Hangup]) {
        due[Hangup] = false;
        hangUp();
    } else if (due[Junk]) {
        due[Junk] = false;
        junk();
    } else if (due[StdoutPause] && !paused) {
        due[StdoutPause] = false;
        pauseStdout();
    } else if (due[Dialplan] && state != Idle) {
        due[Dialplan] = false;
        reloadDialplan();
    }
    inSerialFault = false;
}

void Soak::hangUp()
{
    ++thrown[Hangup];
    const long long closed0 = closed, opened0 = opened;
    // The call goes with the line: the driver reports it dropped.
    if (state != Idle) {
        ++hangupDrops;
        expCtl << "drop";
    }
    state = Idle;
    shield.hangUp();
    shield.partial.clear();
    if (!await("the driver closes the hung-up port", [&] { return closed > closed0; }))
        return;
    const int down = uni(300, 4000);
    note("shield hung up for %d ms", down);
    hangDownMs += down;
    idle(down, false);
    if (!shield.open()) {
        stalls << "cannot open a new pty";
        fatal = true;
        return;
    }
    await("the driver reopens the port", [&] { return opened > opened0; });
}

void Soak::junk()
{
    ++thrown[Junk];
    // Random bytes that hold no valid frame, and no frame start in the last
    // nine, so that no frame of ours is taken into one.
    QByteArray j(uni(64, 2048), Qt::Uninitialized);
    for (char& c : j)
        c = char(rng.bounded(256));
    for (int i = 0; i + 10 <= j.size(); ++i)
        if (uint8_t(j.at(i)) == 0xFF && refCrc8(j, i + 1, i + 9) == uint8_t(j.at(i + 9)))
            j[i] = 0;
    for (int i = std::max(0, int(j.size()) - 9); i < j.size(); ++i)
        if (uint8_t(j.at(i)) == 0xFF)
            j[i] = char(0xFE);
    note("%d bytes of junk on the line", int(j.size()));
    junkBytes += j.size();
    if (!sendLine(j)) {
        stalls << QStringLiteral("%1 s: the pty did not take the junk").arg(now() / 1000.0);
        fatal = true;
    }
}

void Soak::pauseStdout()
{
    ++thrown[StdoutPause];
    // The pipe is made full while no status line is on its way, so that our
    // filling and the driver's writing never meet.
    if (!await("status lines in before a stdout pause", [&] { return allLinesIn(); }))
        return;
    pumpStdout();
    out.fill();
    const int ms = uni(1000, 8000);
    note("stdout not read for %d ms", ms);
    paused = true;
    pauseUntil = now() + ms;
    pausedMs += ms;
}

void Soak::reloadDialplan()
{
    ++thrown[Dialplan];
    QByteArray text = "dialplan\n";
    for (int k = uni(0, 3); k > 0; --k)
        text += QByteArray::number(uni(1, 1023)) + '\n';
    text += "-1\n";
    QSet<int> black;
    for (int k = uni(0, 4); k > 0; --k)
        black.insert(uni(1, 200));
    for (int n : black)
        text += QByteArray::number(n) + '\n';
    text += "-1";
    expCon << "mask_imit" << "#Write dialPlan for shield:" << "#End read dialPlan" << "" << "mask_block"
           << "#Write blacklist dialPlan for shield:" << "#End read dialPlan" << "" << "#Shield update virtual list"
           << "#Shield update black list";
    note("dial plan reloaded during a call: %d blocked", int(black.size()));
    parent(text);
    if (barrier("the dial plan taken"))
        blocked = black;
}

void Soak::checkLine(const QList<SpiPeer::Exchange>& ex)
{
    for (const SpiPeer::Exchange& e : ex) {
        const QByteArray& r = e.received;
        if (r.size() == 512 && SpiPeer::isIdle(r)) {
            ++lineIdle;
            continue;
        }
        quint32 n = 0;
        if (r.size() == 512)
            std::memcpy(&n, r.constData() + 4, 4);
        if (r.size() != 512 || r != parentBlock(n)) {
            ++lineBad;
        } else if (qint64(n) <= lastAtLine) {
            ++lineMisordered;
        } else {
            ++lineParent;
            lastAtLine = n;
        }
    }
}

void Soak::killSpi()
{
    ++thrown[SpiKill];
    checkLine(peer->exchanges());
    countAtKill = peer->count();
    peer.reset();
    const int ms = uni(300, 4000);
    spiBackAt = now() + ms;
    spiGoneMs += ms;
    note("SPI peer killed for %d ms", ms);
}

void Soak::closePeer()
{
    // Answers after the last one relayed came too late for their exchange.
    pumpAudio();
    PeerLife& life = lives.back();
    life.answered = std::max(countAtKill, life.next);
    life.late += life.answered - life.next;
}

void Soak::restartSpi()
{
    closePeer();
    lives.push_back({});
    peer = std::make_unique<SpiPeer>(dir.path() + "/spi");
    note("SPI peer back");
}

void Soak::windDown()
{
    windingDown = true;
    std::fill(std::begin(due), std::end(due), false);
    if (state != Idle)
        shieldDrop();
    // Everything back: the peer, the parent's pace, stdout read.
    if (!peer)
        restartSpi();
    udpMode = Normal;
    nextBlockAt = now();
    paused = false;
    const int exchanges = peer->count();
    await("the SPI peer exchanging again", [&] { return peer->count() > exchanges + 10; });
    await("every status line in", [&] { return allLinesIn(); });
    idle(2000, false);
}

// ------------------------------------------------------------ the end

void Soak::finalChecks()
{
    bool ok = !fatal;
    auto check = [&](const char* what, bool done, qint64 ms) {
        lastChecks << QStringLiteral("%1 %2").arg(what, done ? QStringLiteral("in %1 ms").arg(ms) : QStringLiteral("NOT within %1 ms").arg(kPromptMs));
        ok = ok && done;
    };
    if (fatal)
        lastChecks << "(after a stall)";
    QElapsedTimer t;
    int n = 77;
    while (blocked.contains(n))
        ++n;
    mark();
    ++rings;
    const QByteArray dialLine = "dial " + QByteArray::number(n) + " 0";
    expCtl << dialLine;
    t.start();
    sendLine(dialFrame(uint8_t(n)));
    bool done = waitUntil([&] { return gotCtl.size() == expCtl.size() && gotCtl.last() == dialLine && frameSeen(kCallFrame); },
                          kPromptMs, [&] { pump(); });
    check("a ring: its dial line and call frame", done, t.elapsed());
    if (done) {
        mark();
        expCtl << "drop";
        ++shieldDrops;
        t.restart();
        sendLine(frame(DROP, QByteArray(), true));
        done = waitUntil([&] { return gotCtl.size() == expCtl.size(); }, kPromptMs, [&] { pump(); });
        check("the shield's drop: its drop line", done, t.elapsed());
    }
    mark();
    ++doorsFree;
    t.restart();
    parent("open 1");
    done = waitUntil([&] { return frameSeen(kOpen1Frame) && logSeen("Success OP1"); }, kPromptMs, [&] { pump(); });
    check("'open 1': its frame and the answer taken", done, t.elapsed());
    expCon << "#Intercom 102 supported indexes ";
    t.restart();
    parent("7 102");
    done = waitUntil([&] { return gotCon.size() == expCon.size(); }, kPromptMs, [&] { pump(); });
    check("'7 102': its line", done, t.elapsed());
    const qint64 audio0 = audioTotal;
    idle(1000, false);
    lastChecks << QStringLiteral("%1 audio datagrams in the last second (bound >= 55)").arg(audioTotal - audio0);
    lastChecksOk = ok && audioTotal - audio0 >= 55;

    rssEnd = driver.rssKb();
    rssMax = std::max(rssMax, rssEnd);
    cpuEnd = driver.cpuSeconds();
    fdEnd = fdKinds(driver.pid());
    schedEnd = schedNow();
    sched.push_back(schedEnd);
    countAtKill = peer->count();
    driverSocketDrops = UdpIn::udpDrops(20003);
    pumpAudio();
    counting = false;
    closePeer();
    checkLine(peer->exchanges());
    endMs = now();

    driver.closeStdin();
    if (waitUntil([&] { return !driver.running(); }, 5000, [&] { pumpStdout(); pumpStderr(); })) {
        exitCode = driver.exitCode();
        exitedNormally = driver.exitStatus() == QProcess::NormalExit;
    }
    pumpStdout();
    pumpStderr();
}

bool Soak::figure(bool ok, const char* fmt, ...)
{
    printf("  %-5s", ok ? "PASS" : "FAIL");
    va_list ap;
    va_start(ap, fmt);
    vprintf(fmt, ap);
    va_end(ap);
    printf("\n");
    fflush(stdout);
    figuresFailed += ok ? 0 : 1;
    return ok;
}

// The first place where two line lists part, for the report.
QString firstDifference(const QList<QByteArray>& want, const QList<QByteArray>& got)
{
    for (int i = 0; i < std::max(want.size(), got.size()); ++i) {
        const QByteArray w = i < want.size() ? want.at(i) : QByteArray("(nothing)");
        const QByteArray g = i < got.size() ? got.at(i) : QByteArray("(nothing)");
        if (w != g || i >= want.size() || i >= got.size())
            return QStringLiteral("; line %1: expected '%2', got '%3'").arg(i + 1).arg(QString::fromUtf8(w), QString::fromUtf8(g));
    }
    return QString();
}

int Soak::report()
{
    const double seconds = endMs / 1000.0;
    QStringList faults;
    for (int f = 0; f < kFaults; ++f)
        faults << QStringLiteral("%1 %2").arg(kFaultNames[f]).arg(thrown[f]);
    say("faults thrown: %s\n", qPrintable(faults.join(", ")));
    say("  shield hung up %.1f s in all, SPI peer gone %.1f s, UDP silence %.1f s, stdout unread %.1f s, "
        "%lld junk bytes\n",
        hangDownMs / 1000.0, spiGoneMs / 1000.0, silenceMs / 1000.0, pausedMs / 1000.0, junkBytes);
    say("calls: %d rings (%d to blocked numbers), %d picked up, doors %d in a call and %d while free; "
        "dropped by the parent %d, by the shield %d, by a hang-up %d\n",
        rings, ringsBlocked, pickups, doorsInCall, doorsFree, parentDrops, shieldDrops, hangupDrops);
    int driverTotal = 0;
    for (const auto& f : driverFrames)
        driverTotal += f.second;
    say("serial: the shield sent %d frames (%d rings, %d repeated dials while ringing, %d answers, %d drops); "
        "the driver sent %d valid frames\n",
        rings + repeatDials + shieldAnswers + shieldDrops, rings, repeatDials, shieldAnswers, shieldDrops, driverTotal);
    say("parent audio to 20003: %lld datagrams (%lld in floods), %lld failed sends; the driver reported "
        "dropping blocks %lld times, the kernel dropped %lld datagrams at its socket\n",
        parentDatagrams, floodDatagrams, parentFailed, udpDropLines, driverSocketDrops);
    say("stderr: %lld lines from the board library about the SPI peer, %lld about dropped serial bytes; "
        "log: %lld datagrams, %lld 'ERROR CMD'\n",
        spiDiag, serialDropLines, logDatagrams, errorCmd);
    say("figures after %.1f s:\n", seconds);

    for (const QString& s : stalls)
        say("  stalled: %s\n", qPrintable(s));
    figure(stalls.isEmpty(), "steps: %d done, %d stalled (bound %d ms each); slowest %lld ms (%s)", steps,
           int(stalls.size()), kStepMs, slowestStep, qPrintable(slowestWhat));

    const double spanTicks = double(lastNs - firstNs) / kTickNs;
    const qint64 expected = qint64(spanTicks + 0.5) + 1;
    const qint64 late = std::accumulate(lives.begin(), lives.end(), qint64(0),
                                        [](qint64 a, const PeerLife& l) { return a + l.late; });
    const qint64 answered = std::accumulate(lives.begin(), lives.end(), qint64(0),
                                            [](qint64 a, const PeerLife& l) { return a + std::max<qint64>(l.answered, 0); });
    // With the SPI peer gone the board library clocks idle words, and the
    // driver still sends one datagram a tick: the count does not change.
    figure(std::llabs(audioTotal - expected) <= kAudioSlack,
           "audio exchanges on 20002: %lld datagrams in %.3f s, expected %lld +- %d (one per 16 ms, the SPI peer's "
           "absence included): %lld answers of the peer, %lld idle blocks",
           audioTotal, (lastNs - firstNs) / 1e9, expected, kAudioSlack, audioAnswers, audioIdle);
    const qint64 schedMs = std::max<qint64>(1, schedEnd.atMs - schedBoot.atMs);
    say("        the driver's audio thread waited for a CPU %.2f s in all%s; the machine's CPU pressure "
        "(some task waiting) was %.0f%% of the time\n",
        (schedEnd.spiWaitNs - schedBoot.spiWaitNs) / 1e9, spiTid < 0 ? " (thread not found)" : "",
        (schedEnd.pressureUs - schedBoot.pressureUs) / 10.0 / schedMs);
    if (!arrivals.empty())
        printLosses();
    figure(audioBad == 0 && audioMisordered == 0,
           "audio content: %lld malformed, %lld out of order; of %lld answers of %d SPI peer lives %lld relayed, "
           "%lld too late for their exchange (the board library sent idle words instead)",
           audioBad, audioMisordered, answered, int(lives.size()), audioAnswers, late);
    figure(maxGapNs <= kGapBoundMs * 1000000, "audio gaps: longest %.1f ms (at %.1f s; bound %lld ms), %lld gaps over 24 ms",
           maxGapNs / 1e6, maxGapAtMs / 1000.0, kGapBoundMs, gapsOver24);
    figure(lineBad == 0 && lineMisordered == 0,
           "parent audio at the line: %lld of the %u blocks sent got there (floods are cut to 10 waiting blocks); "
           "%lld malformed, %lld out of order; %lld idle blocks", lineParent, parentSeq, lineBad, lineMisordered, lineIdle);
    const qint64 collectorDrops = audioIn.drops() + logIn.drops();
    figure(collectorDrops == 0, "this tool's listeners on 20002/20004 lost %lld datagrams", collectorDrops);

    int dials = 0, drops = 0;
    for (const QByteArray& l : expCtl)
        (l == "drop" ? drops : dials)++;
    figure(gotCtl == expCtl && linesLostReported == 0,
           "status lines: %d got, %d expected (%d dial for %d rings, %d drop), compared in order; "
           "lines the driver reported lost: %lld%s",
           int(gotCtl.size()), int(expCtl.size()), dials, rings, drops, linesLostReported,
           qPrintable(firstDifference(expCtl, gotCtl)));
    figure(gotCon == expCon, "console replies: %d lines got, %d expected (dial plans, '7 102'), compared in order%s",
           int(gotCon.size()), int(expCon.size()), qPrintable(firstDifference(expCon, gotCon)));
    figure(badDriverFrames == 0 && unexpectedFrames == 0,
           "frames from the driver: %d valid, %d with a bad start or checksum, %d of a kind not asked for",
           driverTotal, badDriverFrames, unexpectedFrames);
    figure(logLost == 0, "log: %lld datagrams, 'Log lines lost' total %lld", logDatagrams, logLost);
    if (warmAt < 0)
        say("  note: the run ended before every fault had come once; RSS start is the start-up figure\n");
    const qint64 rss0 = warmAt >= 0 ? rssStart : rssBoot;
    const QString warm = warmAt >= 0 ? QStringLiteral("%1 KiB after warm-up (%2 s)").arg(rssStart).arg(warmAt / 1000.0, 0, 'f', 1)
                                     : QStringLiteral("no warm-up");
    figure(rssEnd >= 0 && rssEnd <= rss0 + kRssBoundKb,
           "RSS: %lld KiB at start-up, %s, %lld KiB at the end (%+lld KiB, bound +%lld), max %lld KiB", rssBoot,
           qPrintable(warm), rssEnd, rssEnd - rss0, kRssBoundKb, rssMax);
    const double cpu = cpuEnd - cpuBoot;
    figure(cpu / seconds <= kCpuBound && busiest5s <= kCpuBound5s,
           "CPU: %.1f s in %.1f s = %.1f%% of a core (bound %.0f%%); busiest 5 s %.0f%% (bound %.0f%%)", cpu, seconds,
           100 * cpu / seconds, 100 * kCpuBound, 100 * busiest5s, 100 * kCpuBound5s);
    const std::map<QString, int>& fdRef = fdWarm.empty() ? fdBoot : fdWarm;
    figure(fdEnd == fdRef && fdBoot == fdRef, "descriptors: %d at start-up, %s, %d at the end (%s)", fdCount(fdBoot),
           qPrintable(fdWarm.empty() ? QStringLiteral("no warm-up") : QStringLiteral("%1 after warm-up").arg(fdCount(fdWarm))),
           fdCount(fdEnd), qPrintable(fdText(fdEnd)));
    if (fdEnd != fdRef || fdBoot != fdRef)
        say("        start-up: %s\n        warm-up:  %s\n", qPrintable(fdText(fdBoot)), qPrintable(fdText(fdWarm)));
    figure(lastChecksOk, "the driver answers at the end: %s", qPrintable(lastChecks.join("; ")));
    figure(exitedNormally && exitCode == 0, "end of input: the driver exited %s with status %d",
           exitedNormally ? "normally" : "abnormally (or not at all)", exitCode);
    say("zma-soak: %s (seed %u)\n", figuresFailed == 0 ? "PASS" : "FAIL", seed);
    return figuresFailed == 0 ? 0 : 1;
}

int Soak::run()
{
    say("zma-soak: seed %u, %.1f minutes, driver %s\n", seed, runMs / 60000.0, ZMA_DRIVER_PATH);
    if (!start())
        return 1;
    nextFaultAt = 0;
    pickFault();
    nextFaultAt = now() + uni(1500, 8000);
    while (!fatal && now() < runMs) {
        call();
        idle(uni(300, 3000));
        if (!fatal && chance(30) && door(uni(1, 2)))
            idle(uni(100, 1000));
    }
    windDown();
    finalChecks();
    return report();
}

void usage(FILE* to)
{
    fprintf(to,
            "usage: zma-soak [--minutes M] [--seed N] [--verbose]\n"
            "  runs %s for M minutes (default 10) against a fake shield and SPI peer,\n"
            "  with faults at random moments (seeded; the seed is printed), and prints\n"
            "  its figures with PASS/FAIL lines. Needs UDP 20002-20004: see run-soak.sh.\n",
            ZMA_DRIVER_PATH);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::signal(SIGPIPE, SIG_IGN); // a driver that dies must not take us along
    double minutes = 10;
    quint32 seed = QRandomGenerator::system()->generate();
    bool verbose = false;
    const QStringList args = app.arguments().mid(1);
    for (int i = 0; i < args.size(); ++i) {
        const QString& a = args.at(i);
        bool ok = true;
        if (a == "-h" || a == "--help") {
            usage(stdout);
            return 0;
        } else if (a == "--minutes" && i + 1 < args.size()) {
            minutes = args.at(++i).toDouble(&ok);
            ok = ok && minutes > 0;
        } else if (a == "--seed" && i + 1 < args.size()) {
            seed = args.at(++i).toUInt(&ok);
        } else if (a == "--verbose") {
            verbose = true;
        } else {
            ok = false;
        }
        if (!ok) {
            fprintf(stderr, "zma-soak: bad argument '%s'\n", qPrintable(a));
            usage(stderr);
            return 2;
        }
    }
    Soak soak(minutes, seed, verbose);
    return soak.run();
}
