// The parent's side: command lines on stdin, the dial-plan list protocol,
// end of input.

#include "rig/rig.h"

#include <QThread>
#include <QtTest>

using namespace rig;

class TestParentConsole : public QObject
{
    Q_OBJECT
private slots:
    void doorCommandsWhileFree_data();
    void doorCommandsWhileFree();
    void callCommandsAreLogged_data();
    void callCommandsAreLogged();
    void intercomCommandChangesDialLine_data();
    void intercomCommandChangesDialLine();
    void linesWithoutEffectOnLineOrStdout_data();
    void linesWithoutEffectOnLineOrStdout();
    void dialPlanListProtocolTranscript();
    void blacklistDecidesWhichDialsAreDropped_data();
    void blacklistDecidesWhichDialsAreDropped();
    void endOfInputStopsDriverCleanly_data();
    void endOfInputStopsDriverCleanly();
    void endOfInputIsLastLogLineDespiteShieldTraffic();
};

void TestParentConsole::doorCommandsWhileFree_data()
{
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QByteArray>("expected"); // empty: nothing on the line
    QTest::addColumn<bool>("openLogged");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("outcome"); // "confirmed", "given up" or "" (not waited for)
    QTest::addColumn<QStringList>("lines");
    const QStringList none;
    QTest::newRow("open 1") << QByteArray("open 1") << kOpen1Frame << false << none << QByteArray() << none;
    QTest::newRow("2") << QByteArray("2") << kOpen1Frame << true << none << QByteArray() << none;
    QTest::newRow("21") << QByteArray("21") << kOpen1Frame << false << none << QByteArray() << none;
    QTest::newRow("22") << QByteArray("22") << kOpen2Frame << false << none << QByteArray() << none;
    QTest::newRow("open 2") << QByteArray("open 2") << kOpen2Frame << false << none << QByteArray() << none;
    QTest::newRow("open alone") << QByteArray("open") << QByteArray() << false << none << QByteArray() << none;
    // Numbers out of range open nothing, not the door of their low bits.
    for (const char* c : {"open 257", "open 258", "open 0", "65538", "65537 1", "258 1", "open 99999999999"})
        QTest::newRow(c) << QByteArray(c) << QByteArray() << false << none << QByteArray() << none;
    // The parent hears of the door only when it asked to.
    QTest::newRow("open 1 confirmed, no -confirm") << QByteArray("open 1") << kOpen1Frame << false << none
                                                   << QByteArray("confirmed") << none;
    QTest::newRow("open 1 confirmed, -confirm") << QByteArray("open 1") << kOpen1Frame << false
                                                << QStringList{"-confirm"} << QByteArray("confirmed")
                                                << QStringList{"open 1"};
    // A door command the shield never answers is named on stderr and in
    // the log, and told as failed to a parent that asked.
    QTest::newRow("open 1 never answered") << QByteArray("open 1") << kOpen1Frame << false << none
                                           << QByteArray("given up") << none;
    // The second goes with the first, unanswered too.
    QTest::newRow("open 1, open 2 never answered, -confirm") << QByteArray("open 1\nopen 2") << kOpen1Frame << false
                                                             << QStringList{"-confirm"} << QByteArray("given up")
                                                             << QStringList{"open 1 failed", "open 2 failed"};
}

void TestParentConsole::doorCommandsWhileFree()
{
    QFETCH(QByteArray, command);
    QFETCH(QByteArray, expected);
    QFETCH(bool, openLogged);
    QFETCH(QStringList, args);
    QFETCH(QByteArray, outcome);
    QFETCH(QStringList, lines);
    Rig rig;
    QVERIFY(rig.start(args));
    rig.driver.writeLine(command);
    QElapsedTimer t;
    t.start();
    if (!expected.isEmpty()) {
        QVERIFY(rig.shield.waitFrame(expected, rig.readyFrames, kWait) == rig.readyFrames);
        QVERIFY2(t.elapsed() <= kPrompt, qPrintable(QString("door frame after %1 ms").arg(t.elapsed())));
    }
    if (outcome == "confirmed") {
        rig.shield.send(frame(OPEN_1_FREE_DONE));
        QVERIFY(rig.log.waitMessage("Controller", "Success OP1", kWait));
    } else if (outcome == "given up") {
        const QByteArray givenUp = "ERROR: serial: the shield did not answer CMD_OPEN_1_FREE sent 6 times, given up";
        QVERIFY2(rig.driver.waitStderr(givenUp + '\n', scaled(8000)), rig.driver.stderrBytes().constData());
        QVERIFY(rig.log.waitMessage("Controller", givenUp, kWait));
    }
    QVERIFY(rig.consoleBarrier());
    QTest::qWait(200);
    if (expected.isEmpty())
        QCOMPARE(rig.framesAfterReady(), QStringList());
    QCOMPARE(rig.countLog("Console", "Open"), openLogged ? 1 : 0);
    QCOMPARE(rig.linesAfterReady(), lines);
}

void TestParentConsole::callCommandsAreLogged_data()
{
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QByteArray>("logged");
    QTest::addColumn<QByteArray>("notLogged");
    for (const char* c : {"pickup", "1", "1 0"})
        QTest::newRow(c) << QByteArray(c) << QByteArray("pickup") << QByteArray("Drop");
    for (const char* c : {"drop", "3", "3 0"})
        QTest::newRow(c) << QByteArray(c) << QByteArray("Drop") << QByteArray("pickup");
}

void TestParentConsole::callCommandsAreLogged()
{
    QFETCH(QByteArray, command);
    QFETCH(QByteArray, logged);
    QFETCH(QByteArray, notLogged);
    Rig rig;
    QVERIFY(rig.start());
    rig.driver.writeLine(command);
    QVERIFY(rig.log.waitMessage("Console", logged, kWait));
    QVERIFY(rig.consoleBarrier());
    QTest::qWait(200);
    QCOMPARE(rig.countLog("Console", logged), 1);
    QCOMPARE(rig.countLog("Console", notLogged), 0);
}

void TestParentConsole::intercomCommandChangesDialLine_data()
{
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QString>("printed");
    QTest::addColumn<QString>("dialLine");
    QTest::newRow("7 alone") << QByteArray("7") << "#Intercom 255 not supported indexes " << "dial 12";
    QTest::newRow("7 102") << QByteArray("7 102") << "#Intercom 102 supported indexes " << "dial 12 0";
}

void TestParentConsole::intercomCommandChangesDialLine()
{
    QFETCH(QByteArray, command);
    QFETCH(QString, printed);
    QFETCH(QString, dialLine);
    Rig rig;
    QVERIFY(rig.start());
    rig.driver.writeLine(command);
    QVERIFY(rig.driver.waitLine(printed, kWait));
    QVERIFY(rig.dial(12, dialLine));
    QCOMPARE(rig.linesAfterReady(), (QStringList{printed, dialLine}));
}

void TestParentConsole::linesWithoutEffectOnLineOrStdout_data()
{
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QByteArray>("stderrText");
    QTest::newRow("message frame") << QByteArray("11 ff6548d103ffffffff")
                                   << QByteArray("DEBUG: message send:  \"ff6548d103ffffffffb1\"");
    QTest::newRow("message with three words") << QByteArray("11 ff 65") << QByteArray();
    QTest::newRow("dial alone") << QByteArray("dial") << QByteArray();
    QTest::newRow("phonedetect alone") << QByteArray("phonedetect") << QByteArray();
    QTest::newRow("empty line") << QByteArray("") << QByteArray();
    QTest::newRow("unknown words") << QByteArray("hello shield") << QByteArray();
    // The NUL belongs to the line: "7" must not be read out of it.
    QTest::newRow("number with NUL inside") << QByteArray("7\0x", 3) << QByteArray();
}

void TestParentConsole::linesWithoutEffectOnLineOrStdout()
{
    QFETCH(QByteArray, command);
    QFETCH(QByteArray, stderrText);
    Rig rig;
    QVERIFY(rig.start());
    rig.driver.writeLine(command);
    QVERIFY(rig.consoleBarrier());
    QTest::qWait(200);
    QVERIFY(rig.driver.running());
    QCOMPARE(rig.framesAfterReady(), QStringList());
    QCOMPARE(rig.linesAfterReady(), QStringList());
    const QByteArray err = rig.driver.stderrBytes();
    // Only the barrier's own message, plus the expected one.
    QCOMPARE(err.count("message send:"), stderrText.isEmpty() ? 1 : 2);
    if (!stderrText.isEmpty())
        QVERIFY2(err.contains(stderrText), err.constData());
}

void TestParentConsole::dialPlanListProtocolTranscript()
{
    Rig rig;
    QVERIFY(rig.start());
    for (const char* line : {"dialplan", "5", "1023", "1024", "12 13", "abc", "pickup", "5", "-1",
                             "7", "-7"})
        rig.driver.writeLine(line);
    QVERIFY(rig.driver.waitLine("#Shield update black list", kWait));
    QVERIFY(rig.consoleBarrier()); // back in command mode
    QTest::qWait(200);
    QCOMPARE(rig.linesAfterReady(),
             (QStringList{"mask_imit", "#Write dialPlan for shield:", "Error: big number",
                          "#End read dialPlan", "", "mask_block", "#Write blacklist dialPlan for shield:",
                          "#End read dialPlan", "", "#Shield update virtual list",
                          "#Shield update black list"}));
    // Two bad lines within a second: the first as it is, the second counted.
    QVERIFY(rig.driver.waitStderr("#ERROR: Ошибка ввода квартиры (repeated 1 times)\n", kWait));
    QCOMPARE(rig.driver.stderrBytes().count("#ERROR: Ошибка ввода квартиры\n"), 1);
    QCOMPARE(rig.countLog("Console", "pickup"), 0);
    QCOMPARE(rig.framesAfterReady(), QStringList());
}

void TestParentConsole::blacklistDecidesWhichDialsAreDropped_data()
{
    QTest::addColumn<int>("suffix");
    QTest::addColumn<int>("prefix");
    QTest::addColumn<QString>("dialLine");
    QTest::addColumn<bool>("blocked");
    QTest::newRow("1023 listed") << 23 << 10 << "dial 1023" << true;
    QTest::newRow("12 listed twice") << 12 << 0 << "dial 12" << true;
    QTest::newRow("13 only after 12 on one line") << 13 << 0 << "dial 13" << false;
    QTest::newRow("1024 too big to list") << 24 << 10 << "dial 1024" << false;
    QTest::newRow("5 only in the virtual list") << 5 << 0 << "dial 5" << false;
}

void TestParentConsole::blacklistDecidesWhichDialsAreDropped()
{
    QFETCH(int, suffix);
    QFETCH(int, prefix);
    QFETCH(QString, dialLine);
    QFETCH(bool, blocked);
    Rig rig;
    QVERIFY(rig.start({"-ic", "121"})); // gate mode dials numbers above 255
    for (const char* line : {"dialplan", "5", "-1", "1023", "12", "12", "12 13", "1024", "-1"})
        rig.driver.writeLine(line);
    QVERIFY(rig.driver.waitLine("#Shield update black list", kWait));
    const int before = rig.driver.lines().size();

    QVERIFY(rig.dial(uint8_t(suffix), dialLine, uint8_t(prefix)));
    if (blocked) {
        QVERIFY(rig.driver.waitLine("drop", kWait));
        QVERIFY(rig.log.waitMessage("Controller", "isBlockPhone Drop", kWait));
        QTest::qWait(500);
        QCOMPARE(rig.driver.lines().mid(before), (QStringList{dialLine, "drop"}));
        QCOMPARE(rig.framesAfterReady(), QStringList());
    } else {
        QVERIFY(rig.shield.waitFrame(kCallFrame, rig.readyFrames, kWait) >= 0);
        QTest::qWait(200);
        QCOMPARE(rig.driver.lines().mid(before), QStringList{dialLine});
        QCOMPARE(rig.countLog("Controller", "isBlockPhone Drop"), 0);
    }
}

void TestParentConsole::endOfInputStopsDriverCleanly_data()
{
    QTest::addColumn<bool>("withShield");
    QTest::newRow("shield ready") << true;
    QTest::newRow("no serial port") << false;
}

void TestParentConsole::endOfInputStopsDriverCleanly()
{
    QFETCH(bool, withShield);
    Rig rig;
    if (withShield) {
        QVERIFY(rig.start());
    } else {
        rig.driver.setSerial("/nonexistent/zma-e2e-no-port");
        QVERIFY(rig.log.isBound());
        QVERIFY(rig.driver.start());
        // The request to the missing shield is dropped, and said to be;
        // its repeat is 700 ms away.
        QVERIFY(rig.log.waitMessage("main", "Uart WRITE dropped: 1 frame, the port is closed; the last "
                                            "FF 65 48 A0 FF FF FF FF FF 99", kWait));
        QCOMPARE(rig.log.messages("Uart WRITE").size(), 0);
    }
    rig.driver.writeLine("7 102"); // handled before the end of input
    QVERIFY(rig.driver.waitLine("#Intercom 102 supported indexes ", kWait));

    // A door opened right before the end still reaches the line.
    if (withShield)
        rig.driver.writeLine("open 1");
    QElapsedTimer t;
    t.start();
    rig.driver.closeStdin();
    QVERIFY2(rig.driver.waitExit(scaled(1000)), qPrintable(QString("still running after %1 ms").arg(t.elapsed())));
    QCOMPARE(rig.driver.exitStatus(), QProcess::NormalExit);
    QCOMPARE(rig.driver.exitCode(), 0);
    if (withShield) {
        rig.shield.pump();
        QVERIFY(!rig.shield.frames.isEmpty());
        QCOMPARE(rig.shield.frames.last().bytes.toHex(' '), kOpen1Frame.toHex(' '));
    }

    QTest::qWait(100); // datagrams sent before the exit are still in the socket
    const auto lines = rig.log.lines();
    QVERIFY(!lines.isEmpty());
    QCOMPARE(lines.last().source, QString("Console"));
    QCOMPARE(lines.last().message, QByteArray("End of input, driver stops"));
    const QByteArray err = rig.driver.stderrBytes();
    QVERIFY2(!err.contains("QThread: Destroyed") && !err.contains("QObject"), err.constData());
}

void TestParentConsole::endOfInputIsLastLogLineDespiteShieldTraffic()
{
    // A race: frames handled between the end of input and the quit are
    // logged after the Console line. Several shutdowns make it show.
    int late = 0;
    QByteArray example;
    for (int run = 0; run < 8; ++run) {
        Rig rig;
        QVERIFY(rig.start());
        QElapsedTimer busy;
        busy.start();
        while (busy.elapsed() < 20) {
            rig.shield.send(frame(0x30, QByteArray(), true));
            QTest::qWait(1);
        }
        rig.driver.closeStdin();
        busy.restart();
        while (busy.elapsed() < 30) {
            rig.shield.send(frame(0x30, QByteArray(), true));
            QThread::usleep(200);
        }
        QVERIFY(rig.driver.waitExit(scaled(1000)));
        QCOMPARE(rig.driver.exitCode(), 0);
        QTest::qWait(100);
        const auto lines = rig.log.lines();
        QVERIFY(!lines.isEmpty());
        if (lines.last().message != "End of input, driver stops") {
            ++late;
            example = lines.last().raw;
        }
    }
    QVERIFY2(late == 0, qPrintable(QString("%1 of 8 shutdowns logged after the Console line, e.g. %2")
                                        .arg(late).arg(QString::fromUtf8(example.trimmed()))));
}

QTEST_GUILESS_MAIN(TestParentConsole)
#include "tst_parentconsole.moc"
