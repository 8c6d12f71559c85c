// shield-sim: a simulated shield, so zma-driver runs on a machine without
// the board. The serial end is a pseudo-terminal (give its path to the driver
// as ZQ_BOARD_SERIAL), the audio end a Unix SEQPACKET socket (ZQ_BOARD_SPI).
//
// Line protocol, for people and for scripts driving it through a pipe.
//
// Standard input, one command a line:
//   ring N            dial apartment N (0..255): CMD_DIAL, data N 00 00 00,
//                     repeated every second until picked up or dropped
//   ring-gate P S     dial in gate mode: data S 00 P 00 (P, S 0..255); the
//                     driver run with -ic 121 reads the digits of P then of S
//   hangup            send CMD_DROP, the call ends
//   raw HEX           write the bytes as given, spaces allowed ("FF 48 65 ..")
//   silent on|off     stop / resume answering the driver
//   state             print the state line again
//   stats             print "spi blocks N"
//   quit              exit
//   Empty lines and lines starting with '#' are ignored; anything else gets
//   an error line on standard error. End of input exits unless --stay;
//   with --stay a FIFO on standard input waits for its next writer.
//
// Standard output, one event a line, flushed at once:
//   serial PATH       always the first line: the port for the driver
//   spi PATH          second line, with --spi
//   rx HEX NAME       a valid frame from the driver; NAME is the code's name
//                     (CMD_CALL, CMD_READ_UID_0, ...) or cmd=0xNN
//   rx garbage HEX    bytes from the driver outside any valid frame
//   tx HEX NAME       bytes written to the driver; NAME "raw" for raw
//   state idle | state ringing N | state talking N
//                     at start (after serial/spi) and on every change; N is
//                     the number as the driver will show it
//   spi connected | spi disconnected
//   spi blocks N      on "stats", and every 1000 blocks with --verbose
//   HEX is upper case, bytes separated by single spaces.
//
// Answers, after --delay ms, in the frame mode of the request, never while
// silent: A0 -> A0 version revision; A2 -> A2 firmware-low firmware-high
// beta; A3/A4/A5 -> same code with the UID word little-endian; CMD_PICKUP ->
// CMD_PICKUP_DONE; CMD_DROP -> CMD_DROP; CMD_OPEN_1/2 -> same code;
// CMD_OPEN_1_FREE/CMD_OPEN_2_FREE -> CMD_OPEN_1_FREE_DONE/CMD_OPEN_2_FREE_DONE.
// CMD_CALL gets none: a ringing line confirms it by dialling again.
// CMD_PICKUP turns a ringing call into talking, CMD_DROP ends any call; both
// are answered in any state. Silent mode still prints rx lines and still
// dials for ring commands.
//
// Serial bytes that nobody reads for about a second (no driver on the port)
// are flushed, so a driver started later does not get an old backlog.
//
// Audio: every message from the peer is answered at once with one message of
// the same length: a test tone (16 kHz, 16-bit signed LE mono) or the looped
// samples of --wav-in; --record keeps what the driver sent as a WAV file.
// A new connection replaces the old one. Options: see kUsage (--help).

#include "commands/commandtesk.h"
#include "commands/receivestream.h"
#include "zma/dialplan.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QList>
#include <QRegularExpression>
#include <QSocketNotifier>
#include <QString>
#include <QStringList>
#include <QThread>
#include <QTimer>
#include <QVector>
#include <QtEndian>

#include <atomic>
#include <initializer_list>
#include <type_traits>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <termios.h>
#include <unistd.h>

namespace {

const char kUsage[] =
    "Usage: shield-sim [options]\n"
    "\n"
    "Simulated shield for zma-driver: the serial line on a pseudo-terminal\n"
    "(ZQ_BOARD_SERIAL), the audio line on a Unix SEQPACKET socket (ZQ_BOARD_SPI).\n"
    "\n"
    "Options:\n"
    "  --link PATH        symlink PATH to the pty (an existing symlink is replaced)\n"
    "  --spi PATH         serve audio on the SEQPACKET socket PATH\n"
    "  --wav-in FILE      line audio from FILE (16 kHz 16-bit mono PCM WAV, looped)\n"
    "                     instead of the test tone\n"
    "  --tone HZ          test tone frequency, 0 for silence (default 440)\n"
    "  --amplitude N      test tone peak 0..32767 (default 8000)\n"
    "  --record FILE      write the audio the driver sends as a 16 kHz 16-bit mono WAV\n"
    "  --version N        shield version 0..255 (default 2)\n"
    "  --revision N       shield revision 0..255 (default 5)\n"
    "  --firmware N       firmware number 0..65535 (default 529)\n"
    "  --beta N           firmware beta 0..255 (default 0)\n"
    "  --uid W0,W1,W2     the three 32-bit UID words in hex (default 1,ab,c0de)\n"
    "  --delay MS         answer delay (default 5)\n"
    "  --auto-ring N      ring apartment N every --every seconds while idle\n"
    "  --every S          auto-ring period in seconds (default 30)\n"
    "  --ring-timeout S   hang up a call nobody picked up after S seconds\n"
    "                     (0 never; default never, 20 with --auto-ring)\n"
    "  --stay             keep running at end of standard input\n"
    "  --die-with-parent  exit when the parent process exits\n"
    "  --verbose          print \"spi blocks N\" every 1000 audio blocks\n"
    "  --help             this text\n"
    "Numbers are decimal, or hex with 0x.\n"
    "\n"
    "Standard input, one command a line:\n"
    "  ring N             dial apartment N (0..255): CMD_DIAL with data N 00 00 00,\n"
    "                     repeated every second until picked up or dropped\n"
    "  ring-gate P S      dial in gate mode: data S 00 P 00 (P, S 0..255)\n"
    "  hangup             send CMD_DROP, the call ends\n"
    "  raw HEX            write the bytes as given, spaces allowed\n"
    "  silent on|off      stop / resume answering the driver\n"
    "  state              print the state line again\n"
    "  stats              print \"spi blocks N\"\n"
    "  quit               exit\n"
    "Empty lines and lines starting with '#' are ignored. End of input exits\n"
    "unless --stay; with --stay a FIFO on standard input waits for its next writer.\n"
    "\n"
    "Standard output, one event a line:\n"
    "  serial PATH        first line: the port for the driver\n"
    "  spi PATH           second line, with --spi\n"
    "  rx HEX NAME        a frame from the driver (NAME e.g. CMD_CALL, or cmd=0xNN)\n"
    "  rx garbage HEX     bytes from the driver outside any valid frame\n"
    "  tx HEX NAME        bytes written to the driver (NAME raw for raw)\n"
    "  state idle | state ringing N | state talking N   (at start, on change)\n"
    "  spi connected | spi disconnected | spi blocks N\n";

// Byte 1 of a frame is its receiver, byte 2 its sender: the driver writes
// FF 65 48, the shield answers FF 48 65.
constexpr uint8_t kDriverAddr = 0x48;
constexpr uint8_t kShieldAddr = 0x65;

constexpr int kSampleRate = 16000;
constexpr double kTwoPi = 6.283185307179586;
constexpr int kDialRepeatMs = 1000;
// Unread serial bytes older than this mean nobody has the port open.
constexpr int kStaleCheckMs = 1000;

struct Options {
    QString link;
    QString spi;
    QString wavIn;
    QString record;
    double toneHz = 440.0;
    int amplitude = 8000;
    int version = 2;
    int revision = 5;
    int firmware = 529;
    int beta = 0;
    quint32 uid[3] = {0x1, 0xab, 0xc0de};
    int delayMs = 5;
    int autoRing = -1;
    int everyS = 30;
    int ringTimeoutS = -1;
    bool stay = false;
    bool dieWithParent = false;
    bool verbose = false;
};

void printLine(const QByteArray& line)
{
    fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stdout);
    fputc('\n', stdout);
    fflush(stdout);
}

void printError(const QString& text)
{
    fprintf(stderr, "shield-sim: %s\n", text.toLocal8Bit().constData());
    fflush(stderr);
}

QByteArray hexBytes(const QByteArray& bytes)
{
    return bytes.toHex(' ').toUpper();
}

QByteArray codeName(uint8_t cmd)
{
    switch (cmd) {
    case CMD_DIAL: return "CMD_DIAL";
    case CMD_CALL: return "CMD_CALL";
    case CMD_PICKUP: return "CMD_PICKUP";
    case CMD_DROP: return "CMD_DROP";
    case CMD_PICKUP_DONE: return "CMD_PICKUP_DONE";
    case CMD_OPEN_1: return "CMD_OPEN_1";
    case CMD_OPEN_2: return "CMD_OPEN_2";
    case CMD_OPEN_1_FREE: return "CMD_OPEN_1_FREE";
    case CMD_OPEN_1_FREE_DONE: return "CMD_OPEN_1_FREE_DONE";
    case CMD_OPEN_2_FREE: return "CMD_OPEN_2_FREE";
    case CMD_OPEN_2_FREE_DONE: return "CMD_OPEN_2_FREE_DONE";
    case CMD_READ_VERSION_ZMA: return "CMD_READ_VERSION_ZMA";
    case CMD_READ_VERSION_FIRMWARE: return "CMD_READ_VERSION_FIRMWARE";
    case CMD_READ_UID_0: return "CMD_READ_UID_0";
    case CMD_READ_UID_1: return "CMD_READ_UID_1";
    case CMD_READ_UID_2: return "CMD_READ_UID_2";
    default: break;
    }
    return "cmd=0x" + QByteArray::number(cmd, 16).rightJustified(2, '0').toUpper();
}

QByteArray shieldFrame(int mode, uint8_t cmd, const QByteArray& data)
{
    // toArray() writes addressBUD to byte 1 and addressZMA to byte 2.
    return CommandTESK(mode, kShieldAddr, kDriverAddr, cmd, data).toArray();
}

bool parseNumber(const QString& text, qint64 min, qint64 max, qint64* value)
{
    bool ok = false;
    qint64 v = 0;
    if (text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        v = text.mid(2).toLongLong(&ok, 16);
    else
        v = text.toLongLong(&ok, 10);
    if (!ok || v < min || v > max)
        return false;
    *value = v;
    return true;
}

QByteArray bytesOf(std::initializer_list<int> values)
{
    QByteArray b;
    for (int v : values)
        b.append(char(v & 0xFF));
    return b;
}

QByteArray le32(quint32 v)
{
    QByteArray b(4, '\0');
    qToLittleEndian<quint32>(v, b.data());
    return b;
}

// ------------------------------------------------------------------ audio

// Serves the audio peer in its own thread: the peer waits only 10 ms for an
// answer, and a main thread stuck on a full stdout pipe must not cost blocks.
class AudioLine : public QObject
{
public:
    explicit AudioLine(const Options& opts) : opts(opts) {}

    // Main thread, before the thread starts: everything that can fail.
    bool prepare(QString* error)
    {
        if (!opts.wavIn.isEmpty() && !loadWav(opts.wavIn, error))
            return false;
        if (!opts.record.isEmpty()) {
            recordFd = ::open(QFile::encodeName(opts.record).constData(),
                              O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            if (recordFd < 0) {
                *error = QStringLiteral("cannot create %1: %2").arg(opts.record, QString::fromLocal8Bit(strerror(errno)));
                return false;
            }
            const QByteArray header = wavHeader(0);
            if (::write(recordFd, header.constData(), static_cast<size_t>(header.size())) != header.size()) {
                *error = QStringLiteral("cannot write %1").arg(opts.record);
                return false;
            }
        }
        const QByteArray path = QFile::encodeName(opts.spi);
        sockaddr_un addr{};
        if (path.size() >= static_cast<int>(sizeof(addr.sun_path))) {
            *error = QStringLiteral("socket path too long: %1").arg(opts.spi);
            return false;
        }
        struct stat st {};
        if (::lstat(path.constData(), &st) == 0) {
            if (!S_ISSOCK(st.st_mode)) {
                *error = QStringLiteral("%1 exists and is not a socket").arg(opts.spi);
                return false;
            }
            ::unlink(path.constData()); // left over from an earlier run
        }
        listenFd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (listenFd < 0) {
            *error = QStringLiteral("socket: %1").arg(QString::fromLocal8Bit(strerror(errno)));
            return false;
        }
        addr.sun_family = AF_UNIX;
        memcpy(addr.sun_path, path.constData(), static_cast<size_t>(path.size()));
        if (::bind(listenFd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0
            || ::listen(listenFd, 4) != 0) {
            *error = QStringLiteral("cannot listen on %1: %2").arg(opts.spi, QString::fromLocal8Bit(strerror(errno)));
            return false;
        }
        socketPath = path;
        return true;
    }

    // Audio thread.
    void start()
    {
        listenNote = new QSocketNotifier(listenFd, QSocketNotifier::Read, this);
        QObject::connect(listenNote, &QSocketNotifier::activated, this, [this] { acceptPeer(); });
    }

    // Audio thread; the WAV file is complete afterwards.
    void stop()
    {
        dropPeer(false);
        delete listenNote;
        listenNote = nullptr;
        if (listenFd >= 0) {
            ::close(listenFd);
            listenFd = -1;
            ::unlink(socketPath.constData());
        }
        if (recordFd >= 0) {
            updateWavSizes();
            ::close(recordFd);
            recordFd = -1;
        }
    }

    quint64 blockCount() const { return blocks.load(); }

private:
    static QByteArray wavHeader(quint32 dataBytes)
    {
        QByteArray h;
        auto u16 = [&h](quint16 v) { char b[2]; qToLittleEndian<quint16>(v, b); h.append(b, 2); };
        auto u32 = [&h](quint32 v) { char b[4]; qToLittleEndian<quint32>(v, b); h.append(b, 4); };
        h.append("RIFF");
        u32(36 + dataBytes);
        h.append("WAVEfmt ");
        u32(16);
        u16(1); // PCM
        u16(1); // mono
        u32(kSampleRate);
        u32(kSampleRate * 2);
        u16(2);
        u16(16);
        h.append("data");
        u32(dataBytes);
        return h;
    }

    bool loadWav(const QString& name, QString* error)
    {
        QFile f(name);
        if (!f.open(QIODevice::ReadOnly)) {
            *error = QStringLiteral("cannot open %1: %2").arg(name, f.errorString());
            return false;
        }
        const QByteArray all = f.readAll();
        const auto* p = reinterpret_cast<const uchar*>(all.constData());
        if (all.size() < 12 || all.left(4) != "RIFF" || all.mid(8, 4) != "WAVE") {
            *error = QStringLiteral("%1 is not a WAV file").arg(name);
            return false;
        }
        bool haveFmt = false;
        QByteArray data;
        bool haveData = false;
        qint64 pos = 12;
        while (pos + 8 <= all.size()) {
            const QByteArray id = all.mid(static_cast<int>(pos), 4);
            const quint32 len = qFromLittleEndian<quint32>(p + pos + 4);
            const qint64 body = pos + 8;
            if (id == "fmt " && len >= 16 && body + 16 <= all.size()) {
                const quint16 tag = qFromLittleEndian<quint16>(p + body);
                const quint16 channels = qFromLittleEndian<quint16>(p + body + 2);
                const quint32 rate = qFromLittleEndian<quint32>(p + body + 4);
                const quint16 bits = qFromLittleEndian<quint16>(p + body + 14);
                if ((tag != 1 && tag != 0xFFFE) || channels != 1 || rate != kSampleRate || bits != 16) {
                    *error = QStringLiteral("%1: need 16 kHz 16-bit mono PCM, found format %2, %3 channel(s), %4 Hz, %5 bit")
                                 .arg(name).arg(tag).arg(channels).arg(rate).arg(bits);
                    return false;
                }
                haveFmt = true;
            } else if (id == "data") {
                data = all.mid(static_cast<int>(body), static_cast<int>(qMin<qint64>(len, all.size() - body)));
                haveData = true;
            }
            pos = body + len + (len & 1);
        }
        if (!haveFmt || !haveData || data.size() < 2) {
            *error = QStringLiteral("%1: no PCM samples found").arg(name);
            return false;
        }
        wavSamples.resize(data.size() / 2);
        const auto* d = reinterpret_cast<const uchar*>(data.constData());
        for (int i = 0; i < wavSamples.size(); ++i)
            wavSamples[i] = qFromLittleEndian<qint16>(d + 2 * i);
        return true;
    }

    qint16 nextSample()
    {
        if (!wavSamples.isEmpty()) {
            const qint16 s = wavSamples.at(wavPos);
            wavPos = (wavPos + 1) % wavSamples.size();
            return s;
        }
        // The phase runs on across blocks, so the tone has no clicks.
        const double s = opts.amplitude * std::sin(phase);
        phase += kTwoPi * opts.toneHz / kSampleRate;
        if (phase >= kTwoPi)
            phase -= kTwoPi;
        return static_cast<qint16>(std::lround(s));
    }

    void acceptPeer()
    {
        for (;;) {
            const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (fd < 0) {
                if (errno == EINTR)
                    continue;
                return;
            }
            // A new driver replaces the old one: one peer at a time.
            dropPeer(true);
            peerFd = fd;
            peerNote = new QSocketNotifier(peerFd, QSocketNotifier::Read, this);
            QObject::connect(peerNote, &QSocketNotifier::activated, this, [this] { readPeer(); });
            toMain("spi connected");
        }
    }

    void dropPeer(bool tell)
    {
        if (peerFd < 0)
            return;
        delete peerNote;
        peerNote = nullptr;
        ::close(peerFd);
        peerFd = -1;
        if (tell)
            toMain("spi disconnected");
    }

    void readPeer()
    {
        for (;;) {
            const ssize_t n = ::recv(peerFd, rxBuf, sizeof(rxBuf), MSG_DONTWAIT);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                return;
            if (n <= 0) {
                dropPeer(true);
                return;
            }
            answer(static_cast<size_t>(n));
        }
    }

    void answer(size_t len)
    {
        for (size_t i = 0; i + 1 < len; i += 2)
            qToLittleEndian<qint16>(nextSample(), txBuf + i);
        if (len % 2)
            txBuf[len - 1] = 0;
        // A late answer would be thrown away by the peer anyway: never wait.
        ::send(peerFd, txBuf, len, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (recordFd >= 0) {
            if (::write(recordFd, rxBuf, len) == static_cast<ssize_t>(len))
                recordedBytes += len;
            else
                recordFailed();
            updateWavSizes();
        }
        const quint64 count = ++blocks;
        if (opts.verbose && count % 1000 == 0)
            toMain("spi blocks " + QByteArray::number(count));
    }

    // Two small writes a block keep the file a valid WAV at any moment.
    void updateWavSizes()
    {
        const quint32 data = static_cast<quint32>(qMin<quint64>(recordedBytes, 0xFFFFFFFFull - 36));
        const QByteArray riff = le32(36 + data);
        const QByteArray dataSize = le32(data);
        if (::pwrite(recordFd, riff.constData(), 4, 4) != 4 || ::pwrite(recordFd, dataSize.constData(), 4, 40) != 4)
            recordFailed();
    }

    // Said once: a full disk would otherwise report every block.
    void recordFailed()
    {
        if (recordErrorTold)
            return;
        recordErrorTold = true;
        const QString text = QStringLiteral("writing %1 failed: %2").arg(opts.record, QString::fromLocal8Bit(strerror(errno)));
        QMetaObject::invokeMethod(QCoreApplication::instance(), [text] { printError(text); }, Qt::QueuedConnection);
    }

    static void toMain(const QByteArray& line)
    {
        QMetaObject::invokeMethod(QCoreApplication::instance(), [line] { printLine(line); }, Qt::QueuedConnection);
    }

    const Options& opts;
    int listenFd = -1;
    int peerFd = -1;
    int recordFd = -1;
    QByteArray socketPath;
    QSocketNotifier* listenNote = nullptr;
    QSocketNotifier* peerNote = nullptr;
    QVector<qint16> wavSamples;
    int wavPos = 0;
    double phase = 0.0;
    quint64 recordedBytes = 0;
    bool recordErrorTold = false;
    std::atomic<quint64> blocks{0};
    uchar rxBuf[65536];
    uchar txBuf[65536];
};

// ----------------------------------------------------------------- serial

class Shield : public QObject
{
public:
    explicit Shield(const Options& opts) : opts(opts) {}

    ~Shield() override
    {
        if (!opts.link.isEmpty()) {
            // Only our own link: a newer simulator may have taken the path.
            const QByteArray link = QFile::encodeName(opts.link);
            char target[4096];
            const ssize_t n = ::readlink(link.constData(), target, sizeof(target) - 1);
            if (n > 0 && QByteArray(target, static_cast<int>(n)) == slaveName)
                ::unlink(link.constData());
        }
        if (masterFd >= 0)
            ::close(masterFd);
        if (slaveFd >= 0)
            ::close(slaveFd);
    }

    bool openLine(QString* error)
    {
        masterFd = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (masterFd < 0 || ::grantpt(masterFd) != 0 || ::unlockpt(masterFd) != 0) {
            *error = QStringLiteral("pseudo-terminal: %1").arg(QString::fromLocal8Bit(strerror(errno)));
            return false;
        }
        char name[256];
        if (::ptsname_r(masterFd, name, sizeof(name)) != 0) {
            *error = QStringLiteral("ptsname: %1").arg(QString::fromLocal8Bit(strerror(errno)));
            return false;
        }
        slaveName = name;
        makeRaw(masterFd);
        // Held open for good: the line stays up while drivers come and go,
        // and it is raw before the driver opens it, so every byte value passes.
        slaveFd = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (slaveFd < 0 || !makeRaw(slaveFd)) {
            *error = QStringLiteral("%1: %2").arg(QString::fromLocal8Bit(name), QString::fromLocal8Bit(strerror(errno)));
            return false;
        }
        ::fcntl(masterFd, F_SETFL, ::fcntl(masterFd, F_GETFL) | O_NONBLOCK);

        if (!opts.link.isEmpty()) {
            const QByteArray link = QFile::encodeName(opts.link);
            struct stat st {};
            if (::lstat(link.constData(), &st) == 0 && !S_ISLNK(st.st_mode)) {
                *error = QStringLiteral("%1 exists and is not a symlink").arg(opts.link);
                return false;
            }
            // Made aside and renamed over: the path never points nowhere.
            const QByteArray tmp = link + ".new." + QByteArray::number(::getpid());
            ::unlink(tmp.constData());
            if (::symlink(name, tmp.constData()) != 0 || ::rename(tmp.constData(), link.constData()) != 0) {
                *error = QStringLiteral("cannot link %1: %2").arg(opts.link, QString::fromLocal8Bit(strerror(errno)));
                ::unlink(tmp.constData());
                return false;
            }
        }
        return true;
    }

    QByteArray portPath() const { return opts.link.isEmpty() ? slaveName : QFile::encodeName(opts.link); }

    void start()
    {
        clock.start();
        readNote = new QSocketNotifier(masterFd, QSocketNotifier::Read, this);
        connect(readNote, &QSocketNotifier::activated, this, [this] { readLine(); });

        sendTimer.setSingleShot(true);
        sendTimer.setTimerType(Qt::PreciseTimer);
        connect(&sendTimer, &QTimer::timeout, this, [this] { sendDue(); });

        dialTimer.setInterval(kDialRepeatMs);
        connect(&dialTimer, &QTimer::timeout, this, [this] { sendFrame(dialFrame, 0); });

        ringTimeout.setSingleShot(true);
        connect(&ringTimeout, &QTimer::timeout, this, [this] {
            if (state == Ringing)
                hangup();
        });

        staleTimer.setInterval(kStaleCheckMs);
        connect(&staleTimer, &QTimer::timeout, this, [this] { dropStale(); });
        staleTimer.start();

        if (opts.autoRing >= 0) {
            autoRingTimer.setInterval(opts.everyS * 1000);
            connect(&autoRingTimer, &QTimer::timeout, this, [this] {
                if (state == Idle)
                    ring(static_cast<uint8_t>(opts.autoRing));
            });
            autoRingTimer.start();
        }
        printState();
    }

    // One line of standard input.
    void command(const QString& rawLine)
    {
        const QString line = rawLine.trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            return;
        const QStringList t = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        const QString& word = t.at(0);
        const int args = t.size() - 1;
        auto usage = [](const char* form) { printError(QStringLiteral("usage: %1").arg(QLatin1String(form))); };
        auto busy = [this, &word] {
            if (state == Idle)
                return false;
            printError(QStringLiteral("%1: line busy (%2)").arg(word, QString::fromLatin1(stateLine())));
            return true;
        };
        qint64 a = 0;
        qint64 b = 0;
        if (word == QLatin1String("ring")) {
            if (args != 1 || !parseNumber(t.at(1), 0, 255, &a))
                usage("ring N (N 0..255)");
            else if (!busy())
                ring(static_cast<uint8_t>(a));
        } else if (word == QLatin1String("ring-gate")) {
            if (args != 2 || !parseNumber(t.at(1), 0, 255, &a) || !parseNumber(t.at(2), 0, 255, &b))
                usage("ring-gate PREFIX SUFFIX (each 0..255)");
            else if (!busy())
                ringGate(static_cast<uint8_t>(a), static_cast<uint8_t>(b));
        } else if (word == QLatin1String("raw")) {
            const QString hex = t.mid(1).join(QString());
            static const QRegularExpression hexDigits(QStringLiteral("^([0-9A-Fa-f]{2})+$"));
            if (!hexDigits.match(hex).hasMatch())
                usage("raw HEX (whole bytes, spaces allowed)");
            else
                sendBytes(QByteArray::fromHex(hex.toLatin1()), "raw", 0);
        } else if (word == QLatin1String("silent")) {
            if (args != 1 || (t.at(1) != QLatin1String("on") && t.at(1) != QLatin1String("off")))
                usage("silent on|off");
            else
                silent = t.at(1) == QLatin1String("on");
        } else if (args == 0 && word == QLatin1String("hangup")) {
            hangup();
        } else if (args == 0 && word == QLatin1String("state")) {
            printLine(stateLine());
        } else if (args == 0 && word == QLatin1String("stats")) {
            printLine("spi blocks " + QByteArray::number(audio ? audio->blockCount() : 0));
        } else if (args == 0 && word == QLatin1String("quit")) {
            QCoreApplication::quit();
        } else {
            printError(QStringLiteral("unknown command: %1 (see --help)").arg(line));
        }
    }

    const AudioLine* audio = nullptr;

private:
    enum State { Idle, Ringing, Talking };

    static bool makeRaw(int fd)
    {
        termios tio {};
        if (::tcgetattr(fd, &tio) != 0)
            return false;
        ::cfmakeraw(&tio);
        ::cfsetispeed(&tio, B115200);
        ::cfsetospeed(&tio, B115200);
        return ::tcsetattr(fd, TCSANOW, &tio) == 0;
    }

    QByteArray stateLine() const
    {
        switch (state) {
        case Ringing: return "state ringing " + QByteArray::number(number);
        case Talking: return "state talking " + QByteArray::number(number);
        default: return "state idle";
        }
    }

    void printState() { printLine(stateLine()); }

    void setState(State s)
    {
        if (s == state)
            return;
        state = s;
        if (state != Ringing) {
            dialTimer.stop();
            ringTimeout.stop();
        }
        printState();
    }

    void ring(uint8_t apartment)
    {
        startRing(bytesOf({apartment, 0, 0, 0}), apartment);
    }

    void ringGate(uint8_t prefix, uint8_t suffix)
    {
        startRing(bytesOf({suffix, 0, prefix, 0}), DialPlan::combinePrefixSuffix(prefix, suffix));
    }

    void startRing(const QByteArray& data, int shownNumber)
    {
        dialFrame = shieldFrame(MODE_LINK, CMD_DIAL, data);
        number = shownNumber;
        setState(Ringing);
        sendFrame(dialFrame, 0);
        // A calling line keeps dialling until the flat answers or hangs up.
        dialTimer.start();
        const int timeoutS = opts.ringTimeoutS >= 0 ? opts.ringTimeoutS : (opts.autoRing >= 0 ? 20 : -1);
        if (timeoutS > 0)
            ringTimeout.start(timeoutS * 1000);
    }

    void hangup()
    {
        sendFrame(shieldFrame(MODE_LINK, CMD_DROP, QByteArray(4, '\0')), 0);
        setState(Idle);
    }

    void readLine()
    {
        char buf[4096];
        for (;;) {
            const ssize_t n = ::read(masterFd, buf, sizeof(buf));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return; // EAGAIN; EIO cannot happen while the slave is held open
            received(QByteArray(buf, static_cast<int>(n)));
        }
    }

    void received(const QByteArray& chunk)
    {
        // The same bytes as the cutter holds, so what it drops can be shown.
        copy.append(chunk);
        const QList<QByteArray> frames = stream.push(chunk);
        int cursor = 0;
        for (const QByteArray& frame : frames) {
            int at = copy.indexOf(frame, cursor);
            if (at < 0)
                at = cursor;
            if (at > cursor)
                printLine("rx garbage " + hexBytes(copy.mid(cursor, at - cursor)));
            cursor = at + FRAME_SIZE;
            handleFrame(frame);
        }
        const int end = copy.size() - stream.pending();
        if (end > cursor)
            printLine("rx garbage " + hexBytes(copy.mid(cursor, end - cursor)));
        copy = copy.mid(end);
    }

    void handleFrame(const QByteArray& frame)
    {
        const CommandTESK c(frame);
        printLine("rx " + hexBytes(frame) + ' ' + codeName(c.cmd));
        if (silent)
            return;
        auto answer = [&](uint8_t cmd, const QByteArray& data) {
            sendFrame(shieldFrame(c.mode, cmd, data), opts.delayMs);
        };
        const QByteArray zero(5, '\0');
        switch (c.cmd) {
        case CMD_READ_VERSION_ZMA:
            answer(c.cmd, bytesOf({opts.version, opts.revision, 0, 0, 0}));
            break;
        case CMD_READ_VERSION_FIRMWARE:
            answer(c.cmd, bytesOf({opts.firmware & 0xFF, opts.firmware >> 8, opts.beta, 0, 0}));
            break;
        case CMD_READ_UID_0:
        case CMD_READ_UID_1:
        case CMD_READ_UID_2:
            answer(c.cmd, le32(opts.uid[c.cmd - CMD_READ_UID_0]) + '\0');
            break;
        case CMD_PICKUP:
            answer(CMD_PICKUP_DONE, zero);
            if (state == Ringing)
                setState(Talking);
            break;
        case CMD_DROP:
            answer(CMD_DROP, zero);
            setState(Idle);
            break;
        case CMD_OPEN_1:
        case CMD_OPEN_2:
            answer(c.cmd, zero);
            break;
        case CMD_OPEN_1_FREE:
            answer(CMD_OPEN_1_FREE_DONE, zero);
            break;
        case CMD_OPEN_2_FREE:
            answer(CMD_OPEN_2_FREE_DONE, zero);
            break;
        default:
            break;
        }
    }

    void sendFrame(const QByteArray& frame, int delayMs)
    {
        sendBytes(frame, codeName(CommandTESK(frame).cmd), delayMs);
    }

    // Everything goes through one queue, so bytes leave in the order queued.
    void sendBytes(const QByteArray& bytes, const QByteArray& name, int delayMs)
    {
        qint64 due = clock.elapsed() + delayMs;
        if (!outQueue.isEmpty())
            due = qMax(due, outQueue.last().due);
        outQueue.append({due, bytes, name});
        sendDue();
    }

    void sendDue()
    {
        const qint64 now = clock.elapsed();
        while (!outQueue.isEmpty() && outQueue.first().due <= now) {
            const Pending p = outQueue.takeFirst();
            writeLine(p.bytes, p.name);
        }
        if (!outQueue.isEmpty())
            sendTimer.start(static_cast<int>(outQueue.first().due - now));
    }

    void writeLine(const QByteArray& bytes, const QByteArray& name)
    {
        qint64 done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(masterFd, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                printError(QStringLiteral("serial write failed after %1 of %2 bytes: %3")
                               .arg(done).arg(bytes.size()).arg(QString::fromLocal8Bit(strerror(errno))));
                break;
            }
            done += n;
        }
        printLine("tx " + hexBytes(bytes) + ' ' + name);
    }

    // With no driver on the port, frames would pile up in the pty and reach
    // the next driver long after the fact: drop what nobody read for a second.
    void dropStale()
    {
        int unread = 0;
        if (::ioctl(slaveFd, FIONREAD, &unread) != 0)
            return;
        if (unread > 0 && lastUnread > 0 && unread >= lastUnread) {
            ::tcflush(slaveFd, TCIFLUSH);
            unread = 0;
        }
        lastUnread = unread;
    }

    struct Pending {
        qint64 due;
        QByteArray bytes;
        QByteArray name;
    };

    const Options& opts;
    int masterFd = -1;
    int slaveFd = -1;
    QByteArray slaveName;
    QSocketNotifier* readNote = nullptr;
    ReceiveStream stream;
    QByteArray copy;
    QElapsedTimer clock;
    QList<Pending> outQueue;
    QTimer sendTimer;
    QTimer dialTimer;
    QTimer ringTimeout;
    QTimer staleTimer;
    QTimer autoRingTimer;
    QByteArray dialFrame;
    State state = Idle;
    int number = 0;
    bool silent = false;
    int lastUnread = 0;
};

// ------------------------------------------------------------ stdin, signals

class StdinReader : public QObject
{
public:
    StdinReader(Shield* shield, bool stay) : shield(shield), stay(stay) {}

    void start()
    {
        note = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
        connect(note, &QSocketNotifier::activated, this, [this] { readInput(); });
    }

private:
    void readInput()
    {
        char buf[4096];
        const ssize_t n = ::read(STDIN_FILENO, buf, sizeof(buf));
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            return;
        if (n > 0) {
            pending.append(buf, static_cast<int>(n));
            int nl;
            while ((nl = pending.indexOf('\n')) >= 0) {
                const QByteArray line = pending.left(nl);
                pending.remove(0, nl + 1);
                shield->command(QString::fromUtf8(line));
            }
            return;
        }
        if (!pending.isEmpty()) {
            shield->command(QString::fromUtf8(pending));
            pending.clear();
        }
        if (!stay) {
            QCoreApplication::quit();
            return;
        }
        delete note;
        note = nullptr;
        // A FIFO opened anew waits for its next writer, so "echo cmd > fifo"
        // keeps working after the first writer has gone.
        struct stat st {};
        if (::fstat(STDIN_FILENO, &st) == 0 && S_ISFIFO(st.st_mode)) {
            const int fd = ::open("/proc/self/fd/0", O_RDONLY | O_NONBLOCK | O_CLOEXEC);
            if (fd >= 0) {
                ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
                ::dup2(fd, STDIN_FILENO);
                ::close(fd);
                start();
            }
        }
    }

    Shield* shield;
    bool stay;
    QSocketNotifier* note = nullptr;
    QByteArray pending;
};

int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const int saved = errno;
    const char c = 1;
    if (::write(signalPipe[1], &c, 1) < 0) {
        // Pipe full: a quit is pending already.
    }
    errno = saved;
}

void catchSignal(int sig, bool keepIgnored)
{
    struct sigaction old {};
    ::sigaction(sig, nullptr, &old);
    // Started in the background by a shell: ^C is meant for the foreground.
    if (keepIgnored && old.sa_handler == SIG_IGN)
        return;
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    ::sigaction(sig, &sa, nullptr);
}

// Returns 0 to go on, else the exit code.
int parseOptions(const QStringList& args, Options* o)
{
    auto bad = [](const QString& text) {
        printError(text);
        fprintf(stderr, "Try shield-sim --help\n");
        return 2;
    };
    for (int i = 1; i < args.size(); ++i) {
        QString opt = args.at(i);
        QString value;
        bool inlineValue = false;
        const int eq = opt.indexOf(QLatin1Char('='));
        if (opt.startsWith(QLatin1String("--")) && eq > 0) {
            value = opt.mid(eq + 1);
            opt = opt.left(eq);
            inlineValue = true;
        }
        auto flag = [&](const char* name, bool* target) {
            if (opt != QLatin1String(name) || inlineValue)
                return false;
            *target = true;
            return true;
        };
        bool ok = true;
        auto take = [&]() -> bool {
            if (inlineValue)
                return true;
            if (i + 1 >= args.size()) {
                ok = false;
                return false;
            }
            value = args.at(++i);
            return true;
        };
        auto number = [&](const char* name, qint64 min, qint64 max, auto* target) {
            if (opt != QLatin1String(name))
                return false;
            qint64 v = 0;
            if (!take() || !parseNumber(value, min, max, &v))
                ok = false;
            else
                *target = static_cast<std::remove_pointer_t<decltype(target)>>(v);
            return true;
        };
        auto text = [&](const char* name, QString* target) {
            if (opt != QLatin1String(name))
                return false;
            if (!take() || value.isEmpty())
                ok = false;
            else
                *target = value;
            return true;
        };

        if (opt == QLatin1String("--help") || opt == QLatin1String("-h")) {
            fputs(kUsage, stdout);
            return -1;
        }
        if (flag("--stay", &o->stay) || flag("--verbose", &o->verbose) || flag("--die-with-parent", &o->dieWithParent)
            || text("--link", &o->link) || text("--spi", &o->spi) || text("--wav-in", &o->wavIn)
            || text("--record", &o->record) || number("--amplitude", 0, 32767, &o->amplitude)
            || number("--version", 0, 255, &o->version) || number("--revision", 0, 255, &o->revision)
            || number("--firmware", 0, 65535, &o->firmware) || number("--beta", 0, 255, &o->beta)
            || number("--delay", 0, 10000, &o->delayMs) || number("--auto-ring", 0, 255, &o->autoRing)
            || number("--every", 1, 86400, &o->everyS) || number("--ring-timeout", 0, 86400, &o->ringTimeoutS)) {
            if (!ok)
                return bad(QStringLiteral("%1: missing or bad value").arg(opt));
            continue;
        }
        if (opt == QLatin1String("--tone")) {
            bool fine = false;
            const double hz = take() ? value.toDouble(&fine) : 0.0;
            if (!fine || hz < 0 || hz >= kSampleRate / 2)
                return bad(QStringLiteral("--tone: need 0 to %1 Hz").arg(kSampleRate / 2 - 1));
            o->toneHz = hz;
            continue;
        }
        if (opt == QLatin1String("--uid")) {
            const QStringList words = take() ? value.split(QLatin1Char(',')) : QStringList();
            if (words.size() != 3)
                return bad(QStringLiteral("--uid: need three hex words W0,W1,W2"));
            for (int w = 0; w < 3; ++w) {
                QString word = words.at(w).trimmed();
                if (word.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
                    word = word.mid(2);
                bool fine = false;
                const qulonglong v = word.toULongLong(&fine, 16);
                if (!fine || v > 0xFFFFFFFFull)
                    return bad(QStringLiteral("--uid: bad word %1").arg(words.at(w)));
                o->uid[w] = static_cast<quint32>(v);
            }
            continue;
        }
        return bad(QStringLiteral("unknown option %1").arg(args.at(i)));
    }
    if (o->spi.isEmpty() && (!o->record.isEmpty() || !o->wavIn.isEmpty()))
        return bad(QStringLiteral("--record and --wav-in need --spi"));
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    setvbuf(stdout, nullptr, _IOLBF, 0);
    ::signal(SIGPIPE, SIG_IGN);
    QCoreApplication app(argc, argv);

    Options opts;
    const int parsed = parseOptions(app.arguments(), &opts);
    if (parsed != 0)
        return parsed < 0 ? 0 : parsed;

    if (opts.dieWithParent) {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() == 1)
            return 0;
    }

    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        printError(QStringLiteral("pipe: %1").arg(QString::fromLocal8Bit(strerror(errno))));
        return 1;
    }
    catchSignal(SIGINT, true);
    catchSignal(SIGHUP, true);
    catchSignal(SIGTERM, false);
    QSocketNotifier signalNote(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&signalNote, &QSocketNotifier::activated, &app, [] {
        char buf[16];
        while (::read(signalPipe[0], buf, sizeof(buf)) > 0) {
        }
        QCoreApplication::quit();
    });

    Shield shield(opts);
    QString error;
    if (!shield.openLine(&error)) {
        printError(error);
        return 1;
    }

    AudioLine* audio = nullptr;
    QThread audioThread;
    if (!opts.spi.isEmpty()) {
        audio = new AudioLine(opts);
        if (!audio->prepare(&error)) {
            printError(error);
            audio->stop();
            delete audio;
            return 1;
        }
        audio->moveToThread(&audioThread);
        audioThread.setObjectName(QStringLiteral("audio"));
        audioThread.start();
        QMetaObject::invokeMethod(audio, [audio] { audio->start(); }, Qt::QueuedConnection);
        shield.audio = audio;
    }

    printLine("serial " + shield.portPath());
    if (audio)
        printLine("spi " + QFile::encodeName(opts.spi));

    shield.start();
    StdinReader input(&shield, opts.stay);
    input.start();

    const int code = app.exec();

    if (audio) {
        QMetaObject::invokeMethod(audio, [audio] { audio->stop(); }, Qt::BlockingQueuedConnection);
        audioThread.quit();
        audioThread.wait();
        shield.audio = nullptr;
        delete audio;
    }
    // Lines the audio thread posted last ("spi disconnected") still go out.
    QCoreApplication::sendPostedEvents();
    return code;
}
