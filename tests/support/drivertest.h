#ifndef DRIVERTEST_H
#define DRIVERTEST_H

// Black-box harness: runs the real zma-driver against a pseudo-terminal that
// stands in for the shield's serial end, and listens on loopback UDP.

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <functional>

namespace zmatest {

// The emulator every program a test starts runs under (ZMA_TEST_EMULATOR,
// set by the build when the tests are cross-built: qemu-user, as there may
// be no binfmt_misc to run a foreign program directly), split into words;
// empty when programs run natively.
QStringList emulator();

// Under a sanitizer freed memory waits in quarantine and shadow memory
// grows, and under an emulator the RSS is the emulator's (its translated
// code included), so the driver's RSS says nothing about what it holds:
// memory bounds are not checked then.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif
bool rssIsMeaningful();

// Where the driver runs slower than natively (a sanitizer, an emulator),
// ZMA_TEST_TIME_SCALE (a factor, default 1) stretches the time bounds that
// only hold natively, and the waits for what must happen eventually (a
// million lines take ten times as long under qemu-user).
double timeScale();
inline int scaled(int ms) { return int(ms * timeScale()); }

// Runs the event loop (and the callback) until cond() holds or time is up.
bool waitUntil(const std::function<bool()>& cond, int timeoutMs,
               const std::function<void()>& pump = {});

// A frame from fields, encoded: the shield's side of the line.
QByteArray shieldFrame(uint8_t cmd, const QByteArray& data = QByteArray(5, char(0xFF)), bool link = false);
QByteArray hex(const QString& spaced); // "FF 65 48" -> bytes

// The shield's serial end: the master of a pty whose slave is reached
// through a symlink that stays at the same path across reopen().
class FakeShieldPty
{
public:
    FakeShieldPty();
    ~FakeShieldPty();

    bool isOpen() const { return masterFd >= 0; }
    QString portPath() const { return linkPath; }
    bool open();
    void hangUp();             // closes the master: the line goes away
    bool send(const QByteArray& bytes);

    // Reads what the driver wrote so far and cuts it into 10-byte frames.
    void pump();
    struct Frame {
        QByteArray bytes;
        qint64 atMs; // since construction
    };
    QList<Frame> frames;
    QByteArray partial;
    QElapsedTimer clock;

    bool waitFrames(int count, int timeoutMs);
    // Answers the five identity requests as a shield would.
    void answerIdentity(uint8_t version, uint8_t revision, uint16_t firmware, uint8_t beta,
                        uint32_t id0, uint32_t id1, uint32_t id2, int timeoutMs = 5000);

private:
    QTemporaryDir dir;
    QString linkPath;
    int masterFd = -1;
};

class UdpCollector
{
public:
    explicit UdpCollector(quint16 port);
    bool isBound() const { return bound; }
    struct Datagram {
        QByteArray bytes;
        qint64 atMs;
    };
    QList<Datagram> datagrams;
    void pump();
    bool waitCount(int count, int timeoutMs);

private:
    QUdpSocket socket;
    bool bound = false;
    QElapsedTimer clock;
};

// The driver's log on UDP 20004, parsed into source and message.
class LogCollector : public UdpCollector
{
public:
    LogCollector() : UdpCollector(20004) {}
    struct Line {
        QString source;
        QByteArray message;
        QByteArray raw;
    };
    QList<Line> lines();
    QList<QByteArray> messages(const QString& source);
    bool waitMessage(const QString& source, const QByteArray& message, int timeoutMs);
};

// A QProcess that runs a hook in the child between fork and exec, to close or
// replace the driver's standard descriptors.
class ChildProcess : public QProcess
{
public:
    std::function<void()> setup;

protected:
    void setupChildProcess() override
    {
        if (setup)
            setup();
    }
};

// Starts program with args, behind the emulator when there is one: the one
// place where tests start programs. A ChildProcess, because Qt starts a plain
// QProcess with clone(CLONE_PIDFD), which qemu-user refuses (QTBUG-98951),
// and a subclass that overrides setupChildProcess() with fork(), which works
// natively and under the emulator alike.
void startProgram(ChildProcess& proc, const QString& program, const QStringList& args);

// A pipe whose write end becomes one of the driver's descriptors and whose
// read end the test reads only when it chooses: a reader that stops.
class HeldPipe
{
public:
    HeldPipe();
    ~HeldPipe();
    int writeFd() const { return fds[1]; }
    // Fills the pipe until it takes no more, so the next write blocks, with
    // whole lines of '~' (a reader can tell them from the driver's); returns
    // the filler written.
    QByteArray fill();
    // Everything in the pipe now (non-blocking).
    QByteArray readAvailable();
    void closeReadEnd();

private:
    int fds[2] = {-1, -1};
};

class DriverProcess
{
public:
    DriverProcess();
    ~DriverProcess();

    QProcessEnvironment env;
    void setSerial(const QString& path) { env.insert("ZQ_BOARD_SERIAL", path); }
    void setSpi(const QString& path) { env.insert("ZQ_BOARD_SPI", path); }

    bool start(const QStringList& args = {});
    void writeLine(const QByteArray& line); // appends LF
    void writeRaw(const QByteArray& bytes);
    void closeStdin();

    QStringList lines();       // complete stdout lines so far
    QByteArray stdoutBytes();
    QByteArray stderrBytes();
    bool waitLine(const QString& line, int timeoutMs, const std::function<void()>& pump = {});
    bool waitStderr(const QByteArray& text, int timeoutMs);
    bool waitExit(int timeoutMs);
    bool running() const;
    int exitCode() const;
    QProcess::ExitStatus exitStatus() const;
    qint64 pid() const;
    // CPU time (user + system) the process used so far, in seconds.
    double cpuSeconds() const;
    qint64 rssKb() const;
    // In the child before exec: descriptor fd becomes target (-1: closed).
    void redirect(int fd, int target);

    ChildProcess proc;

private:
    void drain();
    QByteArray out;
    QByteArray err;
};

} // namespace zmatest

#endif
