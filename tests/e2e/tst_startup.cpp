// The driver's start: command line, identity exchange with the shield, the
// info block for the parent and the first log line.

#include "rig/rig.h"
#include "zma_version.h"

#include <QRegularExpression>
#include <QtTest>

using namespace rig;

class TestStartup : public QObject
{
    Q_OBJECT
private slots:
    void commandLinePrintsIntercomSelection_data();
    void commandLinePrintsIntercomSelection();
    void identityExchangeEndsInInfoBlock_data();
    void identityExchangeEndsInInfoBlock();
    void logStartsWithTest1AndNamesAMissingPort();
    void identityAnswersAfterReadyAreIgnoredAndCallsStillWork();
};

void TestStartup::commandLinePrintsIntercomSelection_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QStringList>("expected"); // with --help: the first line only
    const QString warn = "#WARNING: No intercom select";
    const QString ten = "#Intercom 10 not supported indexes ";
    const QString supported = "#Intercom 102 supported indexes ";
    QTest::newRow("no arguments") << QStringList() << QStringList{warn, ten};
    QTest::newRow("-ic 102") << QStringList{"-ic", "102"} << QStringList{supported};
    QTest::newRow("-ic 121") << QStringList{"-ic", "121"}
                             << QStringList{"#Intercom 121 not supported indexes "};
    QTest::newRow("-ic without value") << QStringList{"-ic"} << QStringList{warn, ten};
    QTest::newRow("-ic not a number") << QStringList{"-ic", "x"} << QStringList{warn, ten};
    QTest::newRow("-ic 358 wraps to 102") << QStringList{"-ic", "358"} << QStringList{supported};
    QTest::newRow("-v -ic 102") << QStringList{"-v", "-ic", "102"}
                                << QStringList{"ZMA_STM_Driver: v2.17", "Beta: 2",
                                               "#Not for release!: ", supported};
    // These print and exit before anything starts.
    QTest::newRow("--version") << QStringList{"-ic", "102", "--version"}
                               << QStringList{"zma-driver " ZMA_VERSION " (ZMA_STM_Driver 2.17, beta 2)"};
    QTest::newRow("--help") << QStringList{"--help"}
                            << QStringList{"usage: zma-driver [-ic N] [-v] [-confirm] [-audio-fifo] [-rt-priority N]"};
}

void TestStartup::commandLinePrintsIntercomSelection()
{
    QFETCH(QStringList, args);
    QFETCH(QStringList, expected);
    DriverProcess driver; // no serial port: only the command line speaks
    QVERIFY(driver.start(args));
    if (!args.isEmpty() && args.last().startsWith("--")) {
        QVERIFY2(driver.waitExit(kWait), "stdin is still open");
        QCOMPARE(driver.exitCode(), 0);
        QCOMPARE(driver.lines().mid(0, 1), expected);
        QVERIFY(driver.stderrBytes().isEmpty());
        return;
    }
    QVERIFY2(driver.waitLine(expected.last(), kWait), driver.stdoutBytes().constData());
    QTest::qWait(300); // nothing more may follow
    QCOMPARE(driver.lines(), expected);
    QVERIFY2(driver.running(), "the driver must keep running while stdin is open");
}

void TestStartup::identityExchangeEndsInInfoBlock_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("beta");
    QTest::addColumn<bool>("late"); // silent until the driver gave up once
    QTest::addColumn<QStringList>("expected");
    const QStringList head = {"#WARNING: No intercom select", "#Intercom 10 not supported indexes ",
                              "#ZMA_Driver_KorvelTesk_v" ZMA_VERSION, "ZMA_STM_Driver 2.17", "",
                              "Intercom: 10", "Program_STM: 529"};
    const QStringList tail = {"Shield: 2", "Revision: 5", "ID: 1abc0de", "", "", "shield_ready", ""};
    QTest::newRow("release firmware") << QStringList() << 0 << false << head + tail;
    QTest::newRow("beta firmware") << QStringList() << 3 << false
                                   << head + QStringList{"Beta: 3", "#WARNING: VORK not for release!"} + tail;
    QStringList gate = head;
    gate[0] = "#Intercom 102 supported indexes ";
    gate.removeAt(1);
    gate[4] = "Intercom: 102";
    QTest::newRow("intercom 102") << QStringList{"-ic", "102"} << 0 << false << gate + tail;
    QTest::newRow("late shield") << QStringList{"-ic", "102"} << 0 << true << gate + tail;
}

void TestStartup::identityExchangeEndsInInfoBlock()
{
    QFETCH(QStringList, args);
    QFETCH(int, beta);
    QFETCH(bool, late);
    QFETCH(QStringList, expected);
    Rig rig;
    Identity id;
    id.beta = uint8_t(beta);
    int first = 0; // the request the shield answers first
    if (late) {
        // Six requests go unanswered; the shield is said to be silent and
        // asked again after a pause, and answers that.
        const QByteArray silent = "ERROR: serial: the shield does not answer on " + rig.shield.portPath().toUtf8()
            + " (CMD_READ_VERSION_ZMA sent 6 times), asking again every 5 s\n";
        QVERIFY(rig.driver.start(args));
        QVERIFY2(rig.driver.waitStderr(silent, scaled(9000)), rig.driver.stderrBytes().constData());
        first = rig.shield.waitFrame(frame(VERSION), 6, scaled(9000));
        QCOMPARE(first, 6);
        const qint64 pause = rig.shield.frames.at(6).atMs - rig.shield.frames.at(5).atMs;
        QVERIFY2(pause >= 4500, qPrintable(QString("asked again after %1 ms").arg(pause)));
        QVERIFY(rig.answerIdentity(id, kWait, first));
        QVERIFY(rig.driver.waitLine("shield_ready", kWait));
        QVERIFY(rig.driver.waitStderr("serial: the shield answers on " + rig.shield.portPath().toUtf8() + " at last",
                                      kWait));
        QCOMPARE(rig.driver.stderrBytes().count("does not answer"), 1);
        QVERIFY(waitUntil([&] { return rig.driver.lines().size() >= expected.size(); }, kWait));
        rig.shield.pump();
        rig.readyFrames = rig.shield.frames.size();
    } else {
        QVERIFY(rig.start(args, id));
    }
    QCOMPARE(rig.driver.lines(), expected);

    QCOMPARE(rig.framesAfterReady(), QStringList()); // nothing sent after ready
    const QStringList sent = rig.shield.framesFrom(first);
    QCOMPARE(sent, (QStringList{spaced(frame(VERSION)), spaced(frame(FIRMWARE)), spaced(frame(UID_0)),
                                spaced(frame(UID_1)), spaced(frame(UID_2))}));
    QCOMPARE(sent.first(), QString("FF 65 48 A0 FF FF FF FF FF 99"));
    QCOMPARE(sent.last(), QString("FF 65 48 A5 FF FF FF FF FF 72"));
    QVERIFY(rig.log.waitMessage("Controller", "Version 2", kWait));
    if (late)
        QVERIFY(rig.dial(12, "dial 12 0"));
}

void TestStartup::logStartsWithTest1AndNamesAMissingPort()
{
    LogCollector log;
    QVERIFY(log.isBound());
    DriverProcess driver;
    QVERIFY(driver.start());
    QVERIFY(log.waitCount(1, kWait));
    const QByteArray first = log.datagrams.first().bytes;
    const QRegularExpression re(R"(^\[Debug\]\[\d\d:\d\d:\d\d\.\d\d\d\] \[main\]: test 1\r\n$)");
    QVERIFY2(re.match(QString::fromLatin1(first)).hasMatch(), first.constData());
    // The port does not exist: which one and why, on stderr and in the log.
    const QByteArray why = "cannot open /nonexistent/zma-test-no-port: No such file or directory; trying again every second";
    QVERIFY(log.waitMessage("main", "Serial port: " + why, kWait));
    QVERIFY(driver.waitStderr("ERROR: serial: " + why, kWait));
}

void TestStartup::identityAnswersAfterReadyAreIgnoredAndCallsStillWork()
{
    Rig rig;
    QVERIFY(rig.start());
    Identity other;
    other.version = 9;
    other.beta = 1;
    for (uint8_t request : {VERSION, FIRMWARE, UID_0, UID_1, UID_2})
        rig.shield.send(identityAnswer(request, other));
    QTest::qWait(500);
    QCOMPARE(rig.linesAfterReady(), QStringList());
    QCOMPARE(rig.framesAfterReady(), QStringList());
    QCOMPARE(rig.countLog("Controller", "Version 9"), 0);

    QVERIFY(rig.ring());
    QCOMPARE(rig.linesAfterReady(), QStringList{"dial 12"});
}

QTEST_GUILESS_MAIN(TestStartup)
#include "tst_startup.moc"
