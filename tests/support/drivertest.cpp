#include "support/drivertest.h"
#include "commands/commandtesk.h"

#include <QFile>
#include <QTest>
#include <QThread>
#include <cerrno>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

namespace zmatest {

double timeScale()
{
    static const double scale = [] {
        bool ok = false;
        const double f = qEnvironmentVariable("ZMA_TEST_TIME_SCALE").toDouble(&ok);
        return ok && f >= 1 ? f : 1.0;
    }();
    return scale;
}

QStringList emulator()
{
    static const QStringList words = QProcess::splitCommand(qEnvironmentVariable("ZMA_TEST_EMULATOR"));
    return words;
}

void startProgram(ChildProcess& proc, const QString& program, const QStringList& args)
{
    const QStringList emu = emulator();
    if (emu.isEmpty())
        proc.start(program, args);
    else
        proc.start(emu.first(), emu.mid(1) + QStringList{program} + args);
}

bool rssIsMeaningful()
{
    return !kSanitized && emulator().isEmpty();
}

bool waitUntil(const std::function<bool()>& cond, int timeoutMs, const std::function<void()>& pump)
{
    QElapsedTimer t;
    t.start();
    for (;;) {
        if (pump)
            pump();
        if (cond())
            return true;
        if (t.elapsed() > timeoutMs)
            return false;
        QTest::qWait(1);
    }
}

QByteArray shieldFrame(uint8_t cmd, const QByteArray& data, bool link)
{
    return CommandTESK(link ? MODE_LINK : MODE_CMD, 0x48, 0x65, cmd, data).toArray();
}

QByteArray hex(const QString& spaced)
{
    return QByteArray::fromHex(spaced.toLatin1());
}

// ---------------------------------------------------------------- pty

FakeShieldPty::FakeShieldPty()
{
    linkPath = dir.path() + "/ttyShield";
    clock.start();
    open();
}

FakeShieldPty::~FakeShieldPty()
{
    hangUp();
}

bool FakeShieldPty::open()
{
    hangUp();
    masterFd = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (masterFd < 0 || grantpt(masterFd) != 0 || unlockpt(masterFd) != 0)
        return false;
    const QString slave = QString::fromLocal8Bit(ptsname(masterFd));
    QFile::remove(linkPath);
    if (!QFile::link(slave, linkPath))
        return false;
    fcntl(masterFd, F_SETFL, fcntl(masterFd, F_GETFL) | O_NONBLOCK);
    return true;
}

void FakeShieldPty::hangUp()
{
    if (masterFd >= 0) {
        ::close(masterFd);
        masterFd = -1;
        // The pts number is recycled for other processes' ptys once the
        // driver lets go of it: leave the link dangling, never pointing there.
        QFile::remove(linkPath);
        QFile::link(dir.path() + "/hung-up", linkPath);
    }
}

bool FakeShieldPty::send(const QByteArray& bytes)
{
    if (masterFd < 0)
        return false;
    return ::write(masterFd, bytes.constData(), bytes.size()) == bytes.size();
}

void FakeShieldPty::pump()
{
    if (masterFd < 0)
        return;
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(masterFd, buf, sizeof(buf));
        if (n <= 0)
            break;
        partial.append(buf, static_cast<int>(n));
    }
    while (partial.size() >= FRAME_SIZE) {
        frames.append({partial.left(FRAME_SIZE), clock.elapsed()});
        partial.remove(0, FRAME_SIZE);
    }
}

bool FakeShieldPty::waitFrames(int count, int timeoutMs)
{
    return waitUntil([&] { return frames.size() >= count; }, timeoutMs, [&] { pump(); });
}

void FakeShieldPty::answerIdentity(uint8_t version, uint8_t revision, uint16_t firmware, uint8_t beta,
                                   uint32_t id0, uint32_t id1, uint32_t id2, int timeoutMs)
{
    auto le = [](uint32_t w) {
        QByteArray d(5, char(0xFF));
        for (int i = 0; i < 4; ++i)
            d[i] = char((w >> (8 * i)) & 0xFF);
        return d;
    };
    QByteArray v(5, char(0xFF));
    v[0] = char(version);
    v[1] = char(revision);
    QByteArray f(5, char(0xFF));
    f[0] = char(firmware & 0xFF);
    f[1] = char(firmware >> 8);
    f[2] = char(beta);
    const QList<QPair<uint8_t, QByteArray>> answers = {
        {CMD_READ_VERSION_ZMA, v}, {CMD_READ_VERSION_FIRMWARE, f},
        {CMD_READ_UID_0, le(id0)}, {CMD_READ_UID_1, le(id1)}, {CMD_READ_UID_2, le(id2)}};
    int handled = 0;
    for (const auto& a : answers) {
        // Wait for the request before answering it.
        const bool got = waitUntil([&] {
            for (int i = handled; i < frames.size(); ++i)
                if (uint8_t(frames[i].bytes.at(3)) == a.first) {
                    handled = i + 1;
                    return true;
                }
            return false;
        }, timeoutMs, [&] { pump(); });
        if (!got)
            return;
        send(shieldFrame(a.first, a.second));
    }
}

// ---------------------------------------------------------------- UDP

UdpCollector::UdpCollector(quint16 port)
{
    bound = socket.bind(QHostAddress(QHostAddress::LocalHost), port);
    // Tests read only when they look: a driver's burst (the log drained at
    // its stop) must wait in the socket, not be dropped by the kernel.
    socket.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 4 * 1024 * 1024);
    clock.start();
}

void UdpCollector::pump()
{
    while (socket.hasPendingDatagrams()) {
        QByteArray d(static_cast<int>(qMax<qint64>(socket.pendingDatagramSize(), 0)), Qt::Uninitialized);
        const qint64 n = socket.readDatagram(d.data(), d.size());
        if (n < 0)
            break;
        d.resize(static_cast<int>(n));
        datagrams.append({d, clock.elapsed()});
    }
}

bool UdpCollector::waitCount(int count, int timeoutMs)
{
    return waitUntil([&] { return datagrams.size() >= count; }, timeoutMs, [&] { pump(); });
}

QList<LogCollector::Line> LogCollector::lines()
{
    pump();
    QList<Line> out;
    for (const auto& d : datagrams) {
        Line l;
        l.raw = d.bytes;
        const int open = d.bytes.indexOf("] [");
        const int close = d.bytes.indexOf("]: ", open + 3);
        if (d.bytes.startsWith("[Debug][") && open > 0 && close > open && d.bytes.endsWith("\r\n")) {
            l.source = QString::fromUtf8(d.bytes.mid(open + 3, close - open - 3));
            l.message = d.bytes.mid(close + 3, d.bytes.size() - close - 3 - 2);
        }
        out.append(l);
    }
    return out;
}

QList<QByteArray> LogCollector::messages(const QString& source)
{
    QList<QByteArray> out;
    for (const auto& l : lines())
        if (l.source == source)
            out.append(l.message);
    return out;
}

bool LogCollector::waitMessage(const QString& source, const QByteArray& message, int timeoutMs)
{
    return waitUntil([&] { return messages(source).contains(message); }, timeoutMs);
}

// ---------------------------------------------------------------- pipe

HeldPipe::HeldPipe()
{
    if (pipe2(fds, O_CLOEXEC) == 0)
        fcntl(fds[0], F_SETFL, fcntl(fds[0], F_GETFL) | O_NONBLOCK);
}

HeldPipe::~HeldPipe()
{
    for (int fd : fds)
        if (fd >= 0)
            ::close(fd);
}

QByteArray HeldPipe::fill()
{
    // Non-blocking only while filling: the flag belongs to the shared end.
    const int flags = fcntl(fds[1], F_GETFL);
    fcntl(fds[1], F_SETFL, flags | O_NONBLOCK);
    // Writes of one page are all or nothing, so each line goes in whole.
    const QByteArray line = QByteArray(4095, '~') + '\n';
    QByteArray written;
    while (::write(fds[1], line.constData(), line.size()) == line.size())
        written += line;
    fcntl(fds[1], F_SETFL, flags);
    return written;
}

QByteArray HeldPipe::readAvailable()
{
    QByteArray out;
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fds[0], buf, sizeof(buf));
        if (n <= 0)
            break;
        out.append(buf, static_cast<int>(n));
    }
    return out;
}

void HeldPipe::closeReadEnd()
{
    if (fds[0] >= 0)
        ::close(fds[0]);
    fds[0] = -1;
}

// ---------------------------------------------------------------- process

DriverProcess::DriverProcess()
    : env(QProcessEnvironment::systemEnvironment())
{
    env.remove("ZQ_BOARD_SPI");
    env.insert("ZQ_BOARD_SERIAL", "/nonexistent/zma-test-no-port");
}

DriverProcess::~DriverProcess()
{
    if (proc.state() != QProcess::NotRunning) {
        proc.kill();
        proc.waitForFinished(3000);
    }
}

bool DriverProcess::start(const QStringList& args)
{
    proc.setProcessEnvironment(env);
    startProgram(proc, QStringLiteral(ZMA_DRIVER_PATH), args);
    return proc.waitForStarted(5000);
}

void DriverProcess::redirect(int fd, int target)
{
    std::function<void()> before = proc.setup;
    proc.setup = [before, fd, target] {
        if (before)
            before();
        if (target < 0)
            ::close(fd);
        else
            ::dup2(target, fd);
    };
}

void DriverProcess::writeLine(const QByteArray& line)
{
    proc.write(line + '\n');
    proc.waitForBytesWritten(1000);
}

void DriverProcess::writeRaw(const QByteArray& bytes)
{
    proc.write(bytes);
    proc.waitForBytesWritten(1000);
}

void DriverProcess::closeStdin()
{
    proc.closeWriteChannel();
}

void DriverProcess::drain()
{
    out += proc.readAllStandardOutput();
    err += proc.readAllStandardError();
}

QStringList DriverProcess::lines()
{
    drain();
    QStringList l = QString::fromUtf8(out).split('\n');
    l.removeLast(); // the part after the last LF is not a complete line
    return l;
}

QByteArray DriverProcess::stdoutBytes()
{
    drain();
    return out;
}

QByteArray DriverProcess::stderrBytes()
{
    drain();
    return err;
}

bool DriverProcess::waitLine(const QString& line, int timeoutMs, const std::function<void()>& pump)
{
    return waitUntil([&] { return lines().contains(line); }, timeoutMs, pump);
}

bool DriverProcess::waitStderr(const QByteArray& text, int timeoutMs)
{
    return waitUntil([&] { return stderrBytes().contains(text); }, timeoutMs);
}

bool DriverProcess::waitExit(int timeoutMs)
{
    return waitUntil([&] { return proc.state() == QProcess::NotRunning; }, timeoutMs);
}

bool DriverProcess::running() const
{
    return proc.state() != QProcess::NotRunning;
}

int DriverProcess::exitCode() const
{
    return proc.exitCode();
}

QProcess::ExitStatus DriverProcess::exitStatus() const
{
    return proc.exitStatus();
}

qint64 DriverProcess::pid() const
{
    return proc.processId();
}

double DriverProcess::cpuSeconds() const
{
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid()));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray stat = f.readAll();
    // Fields after the command name, which is in parentheses.
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return -1;
    const double ticks = fields.at(11).toDouble() + fields.at(12).toDouble(); // utime, stime
    return ticks / sysconf(_SC_CLK_TCK);
}

qint64 DriverProcess::rssKb() const
{
    QFile f(QStringLiteral("/proc/%1/status").arg(pid()));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    return -1;
}

} // namespace zmatest
