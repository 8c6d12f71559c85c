// A careless parent, a flooding shield and a hostile system: stop signals,
// closed descriptors, stalled output, floods and a taken audio port. The
// long floods are in tools/stress; these carry the same bounds on short runs.

#include "rig/heldpipe.h"
#include "rig/rig.h"

#include <QUdpSocket>
#include <QFile>
#include <QtTest>
#include <csignal>
#include <unistd.h>

using namespace rig;

namespace {
// The driver's lock file for a serial port path.
QString lockFileFor(const QString& port)
{
    QString name = port;
    name.replace('/', '_');
    return "/run/lock/LCK.." + name;
}

// Most datagrams that arrived within any window of windowMs.
int busiestWindow(const QList<UdpReceiver::Datagram>& d, int from, qint64 windowMs)
{
    int most = 0;
    for (int i = from, j = from; i < d.size(); ++i) {
        while (d[i].atMs - d[j].atMs >= windowMs)
            ++j;
        most = qMax(most, i - j + 1);
    }
    return most;
}

double ratePerSecond(const QList<UdpReceiver::Datagram>& d, qint64 fromMs, qint64 toMs)
{
    int n = 0;
    for (const auto& g : d)
        n += g.atMs >= fromMs && g.atMs < toMs;
    return n * 1000.0 / qMax<qint64>(1, toMs - fromMs);
}
}

class TestHostile : public QObject
{
    Q_OBJECT
private slots:
    void stopsInOrder_data();
    void stopsInOrder();
    void closedStdoutAtStartOrLaterLeavesTheLineServed_data();
    void closedStdoutAtStartOrLaterLeavesTheLineServed();
    void stalledStdoutStopsNothingAndLosesNoLine();
    void floodOfValidFramesKeepsCallsPromptAndMemoryFlat();
    void stalledStderrAndOversizedDatagramsStopNothing();
    void commandFloodIsRefusedPastTheBound();
    void takenAudioPortIsReportedAndRetried();
};

void TestHostile::stopsInOrder_data()
{
    QTest::addColumn<int>("signalNumber"); // 0: stdin closed at start
    QTest::addColumn<QByteArray>("lastLog");
    QTest::newRow("SIGTERM") << int(SIGTERM) << QByteArray("Signal SIGTERM, driver stops");
    QTest::newRow("SIGINT") << int(SIGINT) << QByteArray("Signal SIGINT, driver stops");
    QTest::newRow("SIGHUP") << int(SIGHUP) << QByteArray("Signal SIGHUP, driver stops");
    QTest::newRow("stdin closed at start") << 0 << QByteArray("End of input, driver stops");
}

void TestHostile::stopsInOrder()
{
    QFETCH(int, signalNumber);
    QFETCH(QByteArray, lastLog);
    Rig rig;
    QElapsedTimer t;
    if (signalNumber == 0) {
        rig.driver.redirect(STDIN_FILENO, -1);
        QVERIFY(rig.driver.start());
        t.start();
    } else {
        QVERIFY(rig.start());
        QVERIFY(QFile::exists(lockFileFor(rig.shield.portPath())));
        t.start();
        ::kill(pid_t(rig.driver.pid()), signalNumber);
    }
    QVERIFY(rig.driver.waitExit(kWait));
    // Bounded generously for a loaded machine; it takes about 150 ms.
    QVERIFY2(t.elapsed() < scaled(2000), qPrintable(QString("exit after %1 ms").arg(t.elapsed())));
    QCOMPARE(rig.driver.exitStatus(), QProcess::NormalExit);
    QCOMPARE(rig.driver.exitCode(), 0);
    QVERIFY(rig.log.waitMessage(signalNumber ? "main" : "Console", lastLog, kWait));
    QTest::qWait(100);
    const auto lines = rig.log.lines();
    QCOMPARE(lines.last().message, lastLog);
    QVERIFY(!QFile::exists(lockFileFor(rig.shield.portPath())));
}

void TestHostile::closedStdoutAtStartOrLaterLeavesTheLineServed_data()
{
    QTest::addColumn<bool>("atStart");
    QTest::newRow("closed at start") << true;
    QTest::newRow("parent closes its read end") << false;
}

void TestHostile::closedStdoutAtStartOrLaterLeavesTheLineServed()
{
    QFETCH(bool, atStart);
    Rig rig;
    HeldPipe out;
    UdpReceiver audio(20002);
    QVERIFY(audio.isBound());
    rig.driver.redirect(STDOUT_FILENO, atStart ? -1 : out.writeFd());
    QVERIFY(rig.driver.start({"-ic", "102"}));
    QVERIFY(rig.answerIdentity(Identity()));
    if (!atStart) {
        QVERIFY(waitUntil([&] { return out.readAvailable().contains("shield_ready"); }, kWait));
        out.closeReadEnd();
    }
    // Two calls: the first status line meets the closed end, the second
    // shows the driver survived it.
    for (uint8_t apartment : {12, 13}) {
        rig.shield.pump();
        const int from = rig.shield.frames.size();
        rig.shield.send(dialFrame(apartment));
        QVERIFY(rig.shield.waitFrame(kCallFrame, from, kWait) >= 0);
        rig.shield.send(frame(DROP, QByteArray(), true));
        QVERIFY(rig.log.waitMessage("Controller", "STATUS_CALL Drop", kWait));
        QTRY_VERIFY_WITH_TIMEOUT(rig.countLog("Controller", "STATUS_CALL Drop") == int(apartment) - 11, kWait);
    }
    QVERIFY(rig.driver.running());
    audio.pump();
    const int before = audio.datagrams.size();
    QVERIFY(audio.waitCount(before + 10, kWait));
}

void TestHostile::stalledStdoutStopsNothingAndLosesNoLine()
{
    Rig rig;
    HeldPipe out;
    UdpReceiver audio(20002);
    QVERIFY(audio.isBound());
    const QByteArray filler = out.fill();
    rig.driver.redirect(STDOUT_FILENO, out.writeFd());
    QVERIFY(rig.driver.start({"-ic", "102"}));
    QVERIFY(rig.answerIdentity(Identity()));

    // Calls ring while nobody reads the status lines.
    QElapsedTimer t;
    t.start();
    QStringList expected;
    for (int apartment = 20; apartment < 40; ++apartment) {
        rig.shield.pump();
        const int from = rig.shield.frames.size();
        const qint64 sentAt = rig.shield.clock.elapsed();
        rig.shield.send(dialFrame(uint8_t(apartment)));
        const int at = rig.shield.waitFrame(kCallFrame, from, kWait);
        QVERIFY(at >= 0);
        const qint64 delay = rig.shield.frames.at(at).atMs - sentAt;
        QVERIFY2(delay <= kPrompt, qPrintable(QString("call frame %1 ms after the dial").arg(delay)));
        rig.shield.send(frame(DROP, QByteArray(), true));
        QTest::qWait(100);
        expected << QString("dial %1 0").arg(apartment) << "drop";
        audio.pump();
    }
    const qint64 stallMs = t.elapsed();
    QVERIFY(audio.waitCount(1, kWait));
    const qint64 now = audio.datagrams.last().atMs;
    const double rate = ratePerSecond(audio.datagrams, now - stallMs, now);
    QVERIFY2(rate >= 55 / timeScale(), qPrintable(QString("%1 audio datagrams a second while stdout stalled").arg(rate)));
    QCOMPARE(rig.countLog("Controller", "STATUS_FREE Dial"), 20);

    // The parent reads again: whole lines, in order, the newest included.
    const int audioBefore = audio.datagrams.size();
    QByteArray got;
    QVERIFY(waitUntil([&] {
        got += out.readAvailable();
        return got.endsWith("drop\n") && got.count("drop\n") == 20;
    }, kWait, [&] { audio.pump(); }));
    QCOMPARE(got.left(filler.size()), filler);
    const QStringList lines = QString::fromUtf8(got.mid(filler.size())).split('\n');
    const int ready = lines.indexOf("shield_ready");
    QVERIFY(ready > 0);
    QCOMPARE(lines.mid(ready + 2, expected.size()), expected);
    // No stale audio arrives in a burst once the parent reads again.
    waitUntil([] { return false; }, 500, [&] { audio.pump(); });
    const int burst = busiestWindow(audio.datagrams, audioBefore, 200);
    QVERIFY2(burst <= 25, qPrintable(QString("%1 audio datagrams within 200 ms").arg(burst)));
}

void TestHostile::floodOfValidFramesKeepsCallsPromptAndMemoryFlat()
{
    Rig rig;
    UdpReceiver audio(20002);
    QVERIFY(audio.isBound());
    QVERIFY(rig.start());
    QTest::qWait(300);
    const qint64 rssBefore = rig.driver.rssKb();

    // Frames the driver reads and ignores, back to back at 115200 8N1.
    const QByteArray ignored = frame(OPEN_1_FREE_DONE);
    constexpr int kFramesPerSecond = 1152;
    constexpr int kFloodMs = 5000;
    QElapsedTimer t;
    t.start();
    qint64 sent = 0;
    qint64 dialAt = -1, dialSeenAfter = -1;
    while (t.elapsed() < kFloodMs) {
        const qint64 due = t.nsecsElapsed() * kFramesPerSecond / 1000000000 - sent;
        QByteArray burst;
        for (qint64 i = 0; i < due; ++i)
            burst += ignored;
        if (dialAt < 0 && t.elapsed() >= kFloodMs / 2) {
            burst += dialFrame(12);
            dialAt = t.elapsed();
        }
        rig.shield.send(burst);
        sent += due;
        rig.shield.pump();
        audio.pump();
        if (dialAt >= 0 && dialSeenAfter < 0 && rig.driver.lines().contains("dial 12"))
            dialSeenAfter = t.elapsed() - dialAt;
        QTest::qWait(1);
    }
    QVERIFY(audio.datagrams.size() > 1);
    const double rate = ratePerSecond(audio.datagrams, audio.datagrams.first().atMs, audio.datagrams.last().atMs);
    const qint64 growth = rig.driver.rssKb() - rssBefore;
    if (dialSeenAfter < 0 && rig.driver.waitLine("dial 12", kWait))
        dialSeenAfter = t.elapsed() - dialAt;
    QVERIFY2(dialSeenAfter >= 0 && dialSeenAfter <= kPrompt,
             qPrintable(QString("dial line %1 ms after the dial frame").arg(dialSeenAfter)));
    QVERIFY2(!rssIsMeaningful() || growth < 2048, qPrintable(QString("RSS grew by %1 KiB in the flood").arg(growth)));
    QVERIFY2(rate >= 55 / timeScale(), qPrintable(QString("%1 audio datagrams a second in the flood").arg(rate)));

    // Right after the flood the next call rings at once.
    rig.shield.send(frame(DROP, QByteArray(), true));
    QVERIFY(rig.driver.waitLine("drop", kWait));
    t.restart();
    QVERIFY(rig.dial(13, "dial 13"));
    QVERIFY2(t.elapsed() <= kPrompt, qPrintable(QString("dial line after %1 ms").arg(t.elapsed())));
}

void TestHostile::stalledStderrAndOversizedDatagramsStopNothing()
{
    Rig rig;
    HeldPipe err;
    UdpReceiver audio(20002);
    QVERIFY(audio.isBound());
    err.fill();
    rig.driver.redirect(STDERR_FILENO, err.writeFd());
    QVERIFY(rig.start());

    QUdpSocket parent;
    const QByteArray oversized(6000, 'x');
    QVERIFY(audio.waitCount(5, kWait));
    const qint64 from = audio.datagrams.last().atMs;
    for (int i = 0; i < 20000; ++i) {
        parent.writeDatagram(oversized, QHostAddress(QHostAddress::LocalHost), 20003);
        if (i % 50 == 0)
            audio.pump();
    }
    waitUntil([] { return false; }, 1000, [&] { audio.pump(); });
    const qint64 to = audio.datagrams.last().atMs;
    const double rate = ratePerSecond(audio.datagrams, from, to);
    QVERIFY2(rate >= 55 / timeScale(), qPrintable(QString("%1 audio datagrams a second").arg(rate)));
    QElapsedTimer t;
    t.start();
    rig.driver.writeLine("7 102");
    QVERIFY(rig.driver.waitLine("#Intercom 102 supported indexes ", kWait));
    QVERIFY2(t.elapsed() <= scaled(1000), qPrintable(QString("answered after %1 ms").arg(t.elapsed())));

    // Rate-limited: a handful of lines, the first as it was, then counts.
    QByteArray text;
    QVERIFY(waitUntil([&] {
        text += err.readAvailable();
        return text.contains("(repeated ");
    }, kWait));
    const int lines = text.count("Переполнение");
    QVERIFY2(lines >= 1 && lines <= 10, qPrintable(QString("%1 overflow lines").arg(lines)));
    QVERIFY(text.contains("ERROR: Переполнение буффера более чем в 10 раз!\n"));
    QVERIFY(text.contains("ERROR: Переполнение буффера более чем в 10 раз! (repeated "));
}

void TestHostile::commandFloodIsRefusedPastTheBound()
{
    Rig rig;
    QVERIFY(rig.start());
    QTest::qWait(300);
    const qint64 rssBefore = rig.driver.rssKb();
    QByteArray block;
    for (int i = 0; i < 10000; ++i)
        block += "open 1\n";
    for (int i = 0; i < 100; ++i) {
        rig.driver.proc.write(block);
        rig.driver.proc.waitForBytesWritten(5000);
        rig.shield.pump();
    }
    rig.driver.writeLine("7 102");
    // A million lines to read: about 1 s natively, 10 s under qemu-user.
    QVERIFY(rig.driver.waitLine("#Intercom 102 supported indexes ", scaled(30000), [&] { rig.shield.pump(); }));
    const qint64 growth = rig.driver.rssKb() - rssBefore;
    QVERIFY2(!rssIsMeaningful() || growth < 4096, qPrintable(QString("RSS grew by %1 KiB").arg(growth)));
    QVERIFY(rig.driver.stderrBytes().contains("command refused"));
}

void TestHostile::takenAudioPortIsReportedAndRetried()
{
    UdpReceiver audio(20002);
    QScopedPointer<UdpReceiver> squatter(new UdpReceiver(20003));
    QVERIFY(audio.isBound() && squatter->isBound());
    DriverProcess driver; // SPI loopback: the parent's audio comes back on 20002
    QVERIFY(driver.start());
    QVERIFY(driver.waitStderr("20003", kWait));
    QVERIFY(driver.stderrBytes().contains("ERROR: UDP audio: cannot bind 127.0.0.1:20003"));

    squatter.reset();
    QElapsedTimer t;
    t.start();
    QByteArray block(512, char(0x11));
    QUdpSocket parent;
    bool back = false;
    while (!back && t.elapsed() < 5000) {
        parent.writeDatagram(block, QHostAddress(QHostAddress::LocalHost), 20003);
        QTest::qWait(16);
        audio.pump();
        for (const auto& d : audio.datagrams)
            back = back || d.bytes == block;
    }
    QVERIFY2(back && t.elapsed() <= 3000, qPrintable(QString("audio back after %1 ms").arg(t.elapsed())));
    QVERIFY(driver.waitStderr("127.0.0.1:20003 bound", kWait));
}

QTEST_GUILESS_MAIN(TestHostile)
#include "tst_hostile.moc"
