// The parent's load on the driver: its cost while nothing happens, and
// bursts of commands and of hostile input.

#include "rig/procsample.h"
#include "rig/rig.h"

#include <QSet>
#include <QtTest>

using namespace rig;

class TestParentLoad : public QObject
{
    Q_OBJECT
private slots:
    void idleDriverUsesLittleCpu();
    void burstOfCommandsLeavesAFrameAMillisecond();
    void burstOfHostileInputKeepsStdoutIntact();
};

void TestParentLoad::idleDriverUsesLittleCpu()
{
    Rig rig;
    QVERIFY(rig.start());
    QTest::qWait(300);
    const double before = rig.driver.cpuSeconds();
    // The main thread has nothing to do: it must sleep, not tick (a 1 ms
    // tick wakes it about 3000 times in this window).
    const qint64 mainSwitches = ProcSample::take(rig.driver.pid()).threadSwitches.value(int(rig.driver.pid()), -1);
    QElapsedTimer wall;
    wall.start();
    QTest::qWait(3000);
    const double share = (rig.driver.cpuSeconds() - before) / (wall.elapsed() / 1000.0);
    QVERIFY2(before >= 0 && share < 0.15, qPrintable(QString("idle CPU share %1 of a core").arg(share)));
    const qint64 woke = ProcSample::take(rig.driver.pid()).threadSwitches.value(int(rig.driver.pid()), -1) - mainSwitches;
    QVERIFY2(mainSwitches >= 0 && woke < 300, qPrintable(QString("idle main thread woke %1 times in 3 s").arg(woke)));
}

void TestParentLoad::burstOfCommandsLeavesAFrameAMillisecond()
{
    Rig rig;
    QVERIFY(rig.start());
    const int n = 20;
    QByteArray burst;
    for (int i = 0; i < n; ++i)
        burst += "open 1\n";
    rig.driver.writeRaw(burst);
    QVERIFY(rig.shield.waitFrames(rig.readyFrames + n, kWait));
    // Stamped as read: a late read bunches frames, so the bound is loose; a
    // burst written at once would span next to nothing.
    const qint64 spanNs = rig.shield.frames.at(rig.readyFrames + n - 1).atNs - rig.shield.frames.at(rig.readyFrames).atNs;
    QVERIFY2(spanNs >= (n - 1) * 500000LL, qPrintable(QString("%1 frames in %2 ms").arg(n).arg(spanNs / 1e6)));
}

void TestParentLoad::burstOfHostileInputKeepsStdoutIntact()
{
    Rig rig;
    QVERIFY(rig.start());
    // Blocked dials from the shield make the main thread print while the
    // console thread prints too.
    QVERIFY(rig.blockOnly(12));
    const int before = rig.driver.lines().size();

    QList<QByteArray> burst = {
        "7 10\n", "7 102\n", "7\n", "open\n", "dial\n", "phonedetect\n", "11 ff 65\n",
        "pickup\r\n", "drop\n", "7 1\r\n", "hello garbage !!\n",
        QByteArray("\x00\x01\xff\xfe\x00 bin \xff\n", 12), QByteArray("\xff\xff\xff\xff\n", 5),
        QByteArray(100 * 1024, 'x') + "\n", QByteArray(70 * 1024, '7') + "\n",
        "99999999999999999999999999\n", "dial 99999999999999999999999999\n",
        "open 99999999999999999999999999\n", "\r\n", "\n",
    };
    const int rounds = 4;
    int dials = 0;
    for (int round = 0; round < rounds; ++round) {
        for (int i = 0; i < burst.size(); ++i) {
            rig.driver.writeRaw(burst.at(i));
            if (i % 2 == 0 && rig.shield.send(dialFrame(12)))
                ++dials;
        }
    }
    rig.driver.writeLine("7 102");
    const QString supported = "#Intercom 102 supported indexes ";
    QVERIFY2(waitUntil([&] { return rig.driver.lines().count(supported) >= rounds + 1; }, 15000),
             rig.driver.stdoutBytes().right(2000).constData());
    QVERIFY(waitUntil([&] { return rig.driver.lines().count("drop") >= dials; }, kWait));
    QTest::qWait(300);
    QVERIFY(rig.driver.running());

    const QStringList after = rig.driver.lines().mid(before);
    const QSet<QString> allowed = {supported, "#Intercom 10 not supported indexes ",
                                   "#Intercom 255 not supported indexes ",
                                   "#Intercom 1 not supported indexes ", "dial 12", "dial 12 0", "drop"};
    for (const QString& l : after)
        QVERIFY2(allowed.contains(l), qPrintable("unexpected stdout line: " + l.left(200)));
    QVERIFY(rig.driver.stdoutBytes().endsWith('\n'));
    // One line per intercom command: none lost, none split (CR LF included).
    QCOMPARE(after.count(supported), rounds + 1);
    QCOMPARE(after.count("#Intercom 10 not supported indexes "), rounds);
    QCOMPARE(after.count("#Intercom 255 not supported indexes "), rounds);
    QCOMPARE(after.count("#Intercom 1 not supported indexes "), rounds);
    QCOMPARE(after.count("drop"), dials);
    QCOMPARE(after.count("dial 12") + after.count("dial 12 0"), dials);
    QVERIFY(rig.driver.stderrBytes().contains("longer than 64 KiB dropped"));
}

QTEST_GUILESS_MAIN(TestParentLoad)
#include "tst_parentload.moc"
