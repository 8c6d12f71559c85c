// The stand-in board library: loopback SPI, the socket exchange with a
// simulated shield, and its behaviour when that peer is slow, silent or gone.

#include "libzq-board-korvel-20203.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtTest>
#include <atomic>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace {

QByteArray idleBlock(int len)
{
    QByteArray b(len, char(0));
    for (int i = 0; i < len; ++i)
        b[i] = char(i % 2 == 0 ? 0xFF : 0x7F);
    return b;
}

QByteArray block(int len, int seed)
{
    QByteArray b(len, char(0));
    for (int i = 0; i < len; ++i)
        b[i] = char((seed + i * 5) & 0xFF);
    return b;
}

// One transfer through the library, timed.
QByteArray transfer(const QByteArray& tx, qint64* tookMs = nullptr)
{
    QByteArray in = tx;
    QByteArray rx(tx.size(), char(0x55));
    QElapsedTimer t;
    t.start();
    board_spi_transfer(reinterpret_cast<uint8_t*>(in.data()), reinterpret_cast<uint8_t*>(rx.data()),
                       static_cast<uint16_t>(tx.size()));
    if (tookMs)
        *tookMs = t.elapsed();
    return rx;
}

// A simulated shield on a SOCK_SEQPACKET socket. How it answers is set per test.
// Echo sends the message back with its exchange number; Plain sends the block
// alone, as a peer that does not number; HoldOne keeps its answer until the
// next message has come, then sends it before that one's.
class Peer
{
public:
    enum Answer { Echo, Plain, HoldOne, Silent, Late, Short, Hangup, Empty, NeverRead };

    Peer(const QString& path, Answer a) : how(a)
    {
        fd = ::socket(AF_UNIX, SOCK_SEQPACKET, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strncpy(addr.sun_path, path.toLocal8Bit().constData(), sizeof(addr.sun_path) - 1);
        ::unlink(addr.sun_path);
        ok = ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0 && ::listen(fd, 2) == 0;
        worker = std::thread([this] { run(); });
    }
    ~Peer()
    {
        stop = true;
        worker.join();
        ::close(fd);
    }
    bool ok = false;
    std::atomic<int> received{0};
    std::atomic<int> accepted{0};
    std::atomic<Answer> how;

private:
    void run()
    {
        int conn = -1;
        char buf[4096];
        int n = 0;
        QByteArray held;
        while (!stop) {
            if (conn >= 0 && how == NeverRead) {
                QThread::msleep(5);
                continue;
            }
            pollfd p{conn >= 0 ? conn : fd, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0)
                continue;
            if (conn < 0) {
                conn = ::accept(fd, nullptr, nullptr);
                if (conn >= 0)
                    ++accepted;
                continue;
            }
            const ssize_t got = ::recv(conn, buf, sizeof(buf), 0);
            if (got <= 0) {
                ::close(conn);
                conn = -1;
                continue;
            }
            ++received;
            ++n;
            QByteArray answer(buf, int(got));
            answer[0] = char(n); // marks which request this answers
            if (!held.isEmpty())
                ::send(conn, held.constData(), held.size(), MSG_NOSIGNAL);
            held.clear();
            switch (how) {
            case Echo:
                ::send(conn, answer.constData(), answer.size(), MSG_NOSIGNAL);
                break;
            case Plain:
                ::send(conn, answer.constData(), answer.size() - 4, MSG_NOSIGNAL);
                break;
            case HoldOne:
                held = answer;
                how = Echo;
                break;
            case Late:
                // Past the library's 10 ms, so it must not count for this
                // request nor for the next one.
                QThread::msleep(40);
                ::send(conn, answer.constData(), answer.size(), MSG_NOSIGNAL);
                break;
            case Short:
                ::send(conn, answer.constData(), answer.size() / 2, MSG_NOSIGNAL);
                break;
            case Hangup:
                ::close(conn);
                conn = -1;
                break;
            case Empty:
                ::send(conn, "", 0, MSG_NOSIGNAL);
                break;
            case Silent:
            case NeverRead:
                break;
            }
        }
        if (conn >= 0)
            ::close(conn);
    }
    int fd = -1;
    std::atomic<bool> stop{false};
    std::thread worker;
};

// Captures what the library writes to stderr.
class StderrCapture
{
public:
    StderrCapture()
    {
        fflush(stderr);
        saved = ::dup(STDERR_FILENO);
        if (::pipe(pipeFd) != 0)
            qFatal("no pipe for stderr");
        ::fcntl(pipeFd[0], F_SETFL, O_NONBLOCK);
        ::dup2(pipeFd[1], STDERR_FILENO);
    }
    ~StderrCapture()
    {
        fflush(stderr);
        ::dup2(saved, STDERR_FILENO);
        ::close(saved);
        ::close(pipeFd[0]);
        ::close(pipeFd[1]);
    }
    // Fills the pipe, so a blocking write to stderr would wait for ever.
    void fill()
    {
        const char chunk[4096] = {};
        ::fcntl(pipeFd[1], F_SETFL, O_NONBLOCK);
        while (::write(pipeFd[1], chunk, sizeof(chunk)) > 0) {
        }
        ::fcntl(pipeFd[1], F_SETFL, 0);
    }
    QByteArray text()
    {
        fflush(stderr);
        char buf[4096];
        ssize_t n;
        while ((n = ::read(pipeFd[0], buf, sizeof(buf))) > 0)
            captured.append(buf, int(n));
        return captured;
    }

private:
    int saved = -1;
    int pipeFd[2] = {-1, -1};
    QByteArray captured;
};

// Late answers the library says it dropped, over all its lines.
int lateReported(const QByteArray& text)
{
    int sum = 0;
    QRegularExpressionMatchIterator it =
        QRegularExpression("SPI peer .*: (\\d+) late answers? dropped").globalMatch(QString::fromUtf8(text));
    while (it.hasNext())
        sum += it.next().captured(1).toInt();
    return sum;
}

} // namespace

class TestBoardLib : public QObject
{
    Q_OBJECT
private slots:
    void serialPortNameComesFromEnvironment();
    void withoutPeerSocketSpiIsLoopback();
    void peerThatNeverStartedGivesIdleAndOneDiagnostic();
    void fullStderrDoesNotHoldUpTransfers();
    void peerStartedLaterIsReachedWithinASecond();
    void silentOrLateOrShortPeerGivesIdleWithinBound();
    void peerThatHangsUpIsSurvivedAndReconnected();

private:
    QTemporaryDir dir;
    QString sock(const char* name) { return dir.path() + "/" + name; }
    void useSocket(const QString& path)
    {
        qputenv("ZQ_BOARD_SPI", path.toLocal8Bit());
        board_spi_init();
    }
};

void TestBoardLib::serialPortNameComesFromEnvironment()
{
    qunsetenv("ZQ_BOARD_SERIAL");
    QCOMPARE(QString::fromUtf8(board_usart_get_port()), QString("/dev/ttyS1"));
    qputenv("ZQ_BOARD_SERIAL", "/tmp/some/tty");
    QCOMPARE(QString::fromUtf8(board_usart_get_port()), QString("/tmp/some/tty"));
}

void TestBoardLib::withoutPeerSocketSpiIsLoopback()
{
    qunsetenv("ZQ_BOARD_SPI");
    board_lib_init();
    board_gpio_init();
    board_spi_init();
    board_spi_set_cs(0);
    const QByteArray tx = block(512, 3);
    QCOMPARE(transfer(tx), tx);
    board_spi_set_cs(1);
}

void TestBoardLib::peerThatNeverStartedGivesIdleAndOneDiagnostic()
{
    StderrCapture err;
    useSocket(sock("absent.sock"));
    QElapsedTimer t;
    t.start();
    int transfers = 0;
    while (t.elapsed() < 400) {
        qint64 took = 0;
        QCOMPARE(transfer(block(512, transfers), &took), idleBlock(512));
        QVERIFY(took < 100);
        ++transfers;
        QThread::msleep(5);
    }
    QVERIFY(transfers > 10);
    // At most one line a second about the missing peer.
    QCOMPARE(err.text().count('\n'), 1);
    QVERIFY(err.text().contains("absent.sock"));
}

void TestBoardLib::fullStderrDoesNotHoldUpTransfers()
{
    StderrCapture err;
    err.fill();
    // The connect attempts each second are diagnosed; with nobody reading
    // stderr, the lines must be skipped, not waited for.
    useSocket(sock("absent-quiet.sock"));
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 1300) {
        qint64 took = 0;
        QCOMPARE(transfer(block(512, 1), &took), idleBlock(512));
        QVERIFY(took < 100);
        QThread::msleep(5);
    }
}

void TestBoardLib::peerStartedLaterIsReachedWithinASecond()
{
    const QString path = sock("later.sock");
    useSocket(path);
    QCOMPARE(transfer(block(512, 1)), idleBlock(512));
    Peer peer(path, Peer::Echo);
    QVERIFY(peer.ok);
    QElapsedTimer t;
    t.start();
    QByteArray rx;
    const QByteArray tx = block(512, 9);
    while (t.elapsed() < 3000) {
        rx = transfer(tx);
        if (rx != idleBlock(512))
            break;
        QThread::msleep(16);
    }
    QVERIFY2(t.elapsed() < 1600, qPrintable(QString::number(t.elapsed())));
    QCOMPARE(rx.mid(1), tx.mid(1));
}

void TestBoardLib::silentOrLateOrShortPeerGivesIdleWithinBound()
{
    struct Case {
        const char* name;
        Peer::Answer how;
        int transfers;
        int pauseMs;
        int late; // answers that came too late, each dropped and reported
    };
    // A peer that never reads gets enough blocks to fill the socket, so a
    // send that waits for room would hang here. The held answer comes while
    // the library waits for the next one's: it must not pass for that one.
    for (const Case& c :
         {Case{"silent.sock", Peer::Silent, 4, 50, 0}, Case{"late.sock", Peer::Late, 4, 50, 4},
          Case{"held.sock", Peer::HoldOne, 1, 0, 1}, Case{"short.sock", Peer::Short, 4, 50, 0},
          Case{"empty.sock", Peer::Empty, 4, 50, 0}, Case{"deaf.sock", Peer::NeverRead, 400, 0, 0}}) {
        StderrCapture err;
        Peer peer(sock(c.name), c.how);
        QVERIFY(peer.ok);
        useSocket(sock(c.name));
        for (int i = 0; i < c.transfers; ++i) {
            qint64 took = 0;
            const QByteArray rx = transfer(block(512, i % 128), &took);
            QVERIFY2(rx == idleBlock(512), c.name);
            QVERIFY2(took < 100, c.name); // 10 ms answer time-out, generous bound
            QThread::msleep(c.pauseMs); // the late answer arrives meanwhile
        }
        QVERIFY2(c.how == Peer::NeverRead ? peer.received == 0 : peer.received >= c.transfers, c.name);

        // None of these is a broken peer: once it answers properly, the
        // answers come through on the same connection.
        peer.how = Peer::Echo;
        const QByteArray tx = block(512, 200);
        QByteArray rx;
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 3000 && (rx = transfer(tx)) == idleBlock(512))
            QThread::msleep(16);
        QVERIFY2(rx.mid(1) == tx.mid(1), c.name);
        QVERIFY2(peer.accepted == 1, c.name);
        // Reported at most once a second: the exchanges go on meanwhile.
        while (t.elapsed() < 5000 && lateReported(err.text()) < c.late) {
            transfer(tx);
            QThread::msleep(16);
        }
        QVERIFY2(lateReported(err.text()) >= c.late, qPrintable(c.name + QString(": ") + err.text()));
    }
}

void TestBoardLib::peerThatHangsUpIsSurvivedAndReconnected()
{
    const QString path = sock("hangup.sock");
    {
        Peer peer(path, Peer::Hangup);
        useSocket(path);
        for (int i = 0; i < 5; ++i)
            QCOMPARE(transfer(block(512, i)), idleBlock(512));
    }
    Peer peer(path, Peer::Plain); // its answers are taken without numbers
    QElapsedTimer t;
    t.start();
    const QByteArray tx = block(512, 77);
    QByteArray rx;
    while (t.elapsed() < 3000 && (rx = transfer(tx)) == idleBlock(512))
        QThread::msleep(16);
    QCOMPARE(rx.mid(1), tx.mid(1));
}

QTEST_GUILESS_MAIN(TestBoardLib)
#include "tst_boardlib.moc"
