// A call from the shield's side: dial, ringing, pickup, drop, the blacklist,
// and the parent's commands while a call is up.

#include "rig/rig.h"

#include <QtTest>

using namespace rig;

class TestCallControl : public QObject
{
    Q_OBJECT
private slots:
    void dialStartsRingingAtOnce_data();
    void dialStartsRingingAtOnce();
    void shieldDropEndsCall_data();
    void shieldDropEndsCall();
    void shieldDropWhileFreeIsSilent();
    void dialAfterPickupIsUnknownCommand();
    void blockedNumberIsDroppedWithoutCall();
    void furtherDialWhileRingingSendsAnotherCall();
    void callRepeatUsesLongPeriodAndIsNotDoubled();
    void consolePickupWhileRingingWaitsForShieldTraffic();
    void consoleOpenBeforePickupWhileRingingIsKept();
    void consoleOpenAndDropDuringPickup();
    void shieldResetEndsCallAndForgetsOldBytes();
};

void TestCallControl::dialStartsRingingAtOnce_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("suffix");
    QTest::addColumn<int>("prefix");
    QTest::addColumn<QString>("line");
    QTest::newRow("default intercom") << QStringList() << 12 << 0 << "dial 12";
    QTest::newRow("intercom 102 adds gate address") << QStringList{"-ic", "102"} << 12 << 0 << "dial 12 0";
    QTest::newRow("gate mode joins prefix and suffix") << QStringList{"-ic", "121"} << 0x22 << 1 << "dial 134";
    QTest::newRow("gate mode without prefix") << QStringList{"-ic", "121"} << 12 << 0 << "dial 12";
}

void TestCallControl::dialStartsRingingAtOnce()
{
    QFETCH(QStringList, args);
    QFETCH(int, suffix);
    QFETCH(int, prefix);
    QFETCH(QString, line);
    Rig rig;
    QVERIFY(rig.start(args));
    const qint64 sentAt = rig.shield.clock.elapsed();
    QVERIFY(rig.dial(uint8_t(suffix), line, uint8_t(prefix)));
    const int at = rig.shield.waitFrame(kCallFrame, rig.readyFrames, kWait);
    QVERIFY(at >= 0);
    const qint64 delay = rig.shield.frames.at(at).atMs - sentAt;
    QVERIFY2(delay <= kPrompt, qPrintable(QString("call frame %1 ms after the dial").arg(delay)));
    QCOMPARE(rig.framesAfterReady(), QStringList{spaced(kCallFrame)});
    QCOMPARE(rig.linesAfterReady(), QStringList{line});
    QVERIFY(rig.log.waitMessage("Controller", "STATUS_FREE Dial", kWait));
    QCOMPARE(rig.log.messages("Controller"),
             (QList<QByteArray>{"Version 2", "Приняты данные ", "LINK_MODE", "STATUS_FREE", "STATUS_FREE Dial"}));
}

void TestCallControl::shieldDropEndsCall_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<bool>("pickedUp");
    QTest::addColumn<bool>("doorOpened");
    QTest::addColumn<QByteArray>("logged");
    QTest::addColumn<QStringList>("lines");
    const QStringList plain{"dial 12", "drop"};
    QTest::newRow("while ringing") << QStringList() << false << false << QByteArray("STATUS_CALL Drop") << plain;
    QTest::newRow("after pickup") << QStringList() << true << false << QByteArray("STATUS_PICKUP Drop") << plain;
    QTest::newRow("after pickup and door") << QStringList() << true << true << QByteArray("STATUS_PICKUP Drop")
                                           << plain;
    // The shield's confirmations, told to a parent that asked for them.
    QTest::newRow("after pickup and door, -confirm")
        << QStringList{"-confirm"} << true << true << QByteArray("STATUS_PICKUP Drop")
        << QStringList{"dial 12", "pickup", "open 1", "drop"};
    QTest::newRow("while ringing, door, -confirm") << QStringList{"-confirm"} << false << true
                                                   << QByteArray("STATUS_CALL Drop")
                                                   << QStringList{"dial 12", "open 1", "drop"};
}

void TestCallControl::shieldDropEndsCall()
{
    QFETCH(QStringList, args);
    QFETCH(bool, pickedUp);
    QFETCH(bool, doorOpened);
    QFETCH(QByteArray, logged);
    QFETCH(QStringList, lines);
    Rig rig;
    QVERIFY(rig.start(args));
    QVERIFY(pickedUp ? rig.pickedUp() : rig.ring());
    if (doorOpened) {
        rig.shield.send(frame(OPEN_1, QByteArray(), true));
        QVERIFY(rig.log.waitMessage("Controller", pickedUp ? "STATUS_PICKUP Открыта дверь 1"
                                                           : "STATUS_CALL Открыта дверь 1", kWait));
    }
    rig.shield.send(frame(DROP, QByteArray(), true));
    QVERIFY(rig.driver.waitLine("drop", kWait));
    QVERIFY(rig.log.waitMessage("Controller", logged, kWait));
    QCOMPARE(rig.linesAfterReady(), lines);

    // Free again: the next dial rings anew.
    QVERIFY(rig.ring());
    QTRY_COMPARE_WITH_TIMEOUT(rig.countLog("Controller", "STATUS_FREE Dial"), 2, kWait);
}

void TestCallControl::shieldDropWhileFreeIsSilent()
{
    Rig rig;
    QVERIFY(rig.start());
    rig.shield.send(frame(DROP, QByteArray(), true));
    // The dial behind it shows the drop has been handled.
    QVERIFY(rig.ring());
    QCOMPARE(rig.linesAfterReady(), QStringList{"dial 12"});
}

void TestCallControl::dialAfterPickupIsUnknownCommand()
{
    Rig rig;
    QVERIFY(rig.start());
    QVERIFY(rig.pickedUp());
    const int frames = rig.framesAfterReady().size();
    rig.shield.send(dialFrame(12));
    QVERIFY(rig.log.waitMessage("Controller", "STATUS_PICKUP Неизвестная команда ", kWait));
    QTest::qWait(300);
    QCOMPARE(rig.linesAfterReady(), QStringList{"dial 12"});
    QCOMPARE(rig.framesAfterReady().size(), frames);
}

void TestCallControl::blockedNumberIsDroppedWithoutCall()
{
    Rig rig;
    QVERIFY(rig.start());
    QVERIFY(rig.blockOnly(12));
    const int before = rig.driver.lines().size();

    rig.shield.send(dialFrame(12));
    QVERIFY(rig.log.waitMessage("Controller", "isBlockPhone Drop", kWait));
    QVERIFY(rig.driver.waitLine("drop", kWait));
    QCOMPARE(rig.driver.lines().mid(before), (QStringList{"dial 12", "drop"}));
    QTest::qWait(1000);
    QCOMPARE(rig.framesAfterReady(), QStringList());

    // Another number still rings.
    QVERIFY(rig.dial(13, "dial 13"));
    QVERIFY(rig.shield.waitFrame(kCallFrame, rig.readyFrames, kWait) >= 0);
}

void TestCallControl::furtherDialWhileRingingSendsAnotherCall()
{
    Rig rig;
    QVERIFY(rig.start());
    QVERIFY(rig.ring());
    const qint64 sentAt = rig.shield.clock.elapsed();
    rig.shield.send(dialFrame(12));
    const int at = rig.shield.waitFrame(kCallFrame, rig.readyFrames + 1, kWait);
    QVERIFY(at >= 0);
    QVERIFY(rig.shield.frames.at(at).atMs - sentAt <= kPrompt);
    QVERIFY(rig.log.waitMessage("Controller", "STATUS_CALL Call", kWait));
    QTest::qWait(300);
    QCOMPARE(rig.framesAfterReady(), (QStringList{spaced(kCallFrame), spaced(kCallFrame)}));
    QCOMPARE(rig.linesAfterReady(), QStringList{"dial 12"});
}

void TestCallControl::callRepeatUsesLongPeriodAndIsNotDoubled()
{
    Rig rig;
    QVERIFY(rig.start());
    QVERIFY(rig.ring());
    const qint64 callAt = rig.shield.frames.last().atMs;
    qint64 repeatAt = -1;
    QVERIFY(waitUntil([&] {
        if (rig.log.messages("Controller").contains("Repeat  Call"))
            repeatAt = rig.shield.clock.elapsed();
        return repeatAt >= 0;
    }, 9000, [&] { rig.shield.pump(); }));
    const qint64 period = repeatAt - callAt;
    QVERIFY2(period >= 5000 && period <= 7500, qPrintable(QString("call repeated after %1 ms").arg(period)));
    QCOMPARE(rig.countLog("Controller", "Repeat CMD "), 0);

    // The repeated call is still queued: a dial now adds no call of its own.
    rig.shield.pump();
    const int from = rig.shield.frames.size();
    rig.shield.send(dialFrame(12));
    QVERIFY(rig.shield.waitFrame(kCallFrame, from, kWait) >= 0);
    QTest::qWait(300);
    QCOMPARE(rig.shield.framesFrom(from), QStringList{spaced(kCallFrame)});
    QCOMPARE(rig.countLog("Controller", "STATUS_CALL Call"), 0);
}

void TestCallControl::consolePickupWhileRingingWaitsForShieldTraffic()
{
    Rig rig;
    QVERIFY(rig.start());
    QVERIFY(rig.ring());
    rig.driver.writeLine("pickup");
    QVERIFY(rig.log.waitMessage("Console", "pickup", kWait));
    QTest::qWait(700);
    QCOMPARE(rig.framesAfterReady(), QStringList{spaced(kCallFrame)});

    rig.shield.send(frame(0x30, QByteArray(), true)); // any traffic from the shield
    const int at = rig.shield.waitFrame(kPickupFrame, rig.readyFrames, kWait);
    QVERIFY(at >= 0);
    QCOMPARE(rig.framesAfterReady(), (QStringList{spaced(kCallFrame), spaced(kPickupFrame)}));
}

void TestCallControl::consoleOpenBeforePickupWhileRingingIsKept()
{
    Rig rig;
    QVERIFY(rig.start());
    QVERIFY(rig.ring());
    rig.driver.writeLine("open 1");
    rig.driver.writeLine("pickup");
    QVERIFY(rig.log.waitMessage("Console", "pickup", kWait));

    // Each frame from the shield lets one queued frame out.
    rig.shield.send(frame(0x30, QByteArray(), true));
    QVERIFY(rig.shield.waitFrame(kOpen1CallFrame, rig.readyFrames, kWait) >= 0);
    rig.shield.send(frame(0x30, QByteArray(), true));
    QVERIFY(rig.shield.waitFrame(kPickupFrame, rig.readyFrames, kWait) >= 0);
    QTest::qWait(300);
    QCOMPARE(rig.framesAfterReady(),
             (QStringList{spaced(kCallFrame), spaced(kOpen1CallFrame), spaced(kPickupFrame)}));
}

void TestCallControl::consoleOpenAndDropDuringPickup()
{
    Rig rig;
    QVERIFY(rig.start());
    QVERIFY(rig.pickedUp());
    rig.shield.pump();
    int from = rig.shield.frames.size();

    QElapsedTimer t;
    rig.driver.writeLine("open 1");
    t.start();
    int at = rig.shield.waitFrame(kOpen1CallFrame, from, kWait);
    QVERIFY(at >= 0);
    QVERIFY2(t.elapsed() <= kPrompt, qPrintable(QString("door frame after %1 ms").arg(t.elapsed())));
    rig.shield.send(frame(OPEN_1, QByteArray(), true));
    QVERIFY(rig.log.waitMessage("Controller", "STATUS_PICKUP Открыта дверь 1", kWait));

    from = at + 1;
    rig.driver.writeLine("drop");
    t.restart();
    at = rig.shield.waitFrame(kDropFrame, from, kWait);
    QVERIFY(at >= 0);
    QVERIFY2(t.elapsed() <= kPrompt, qPrintable(QString("drop frame after %1 ms").arg(t.elapsed())));
    QCOMPARE(rig.shield.framesFrom(rig.readyFrames),
             (QStringList{spaced(kCallFrame), spaced(kOpen1CallFrame), spaced(kDropFrame)}));
}

void TestCallControl::shieldResetEndsCallAndForgetsOldBytes()
{
    Rig rig;
    QVERIFY(rig.start({"-ic", "102"}));
    QVERIFY(rig.dial(12, "dial 12 0"));
    // Half a frame, then the shield's end goes away and comes back.
    const QByteArray dial13 = dialFrame(13);
    rig.shield.send(dial13.left(5));
    QTest::qWait(50);
    rig.shield.hangUp();
    QVERIFY(rig.driver.waitLine("drop", kWait));
    QVERIFY(rig.shield.open());
    QTRY_COMPARE_WITH_TIMEOUT(rig.driver.stderrBytes().count("Успешно открыт порт"), 2, kWait);
    // The other half must not join the bytes from before the reset.
    rig.shield.send(dial13.mid(5));
    QTest::qWait(300);
    QCOMPARE(rig.linesAfterReady(), (QStringList{"dial 12 0", "drop"}));

    // A new call rings as from a free line.
    rig.shield.pump();
    const int from = rig.shield.frames.size();
    QVERIFY(rig.dial(13, "dial 13 0"));
    QVERIFY(rig.shield.waitFrame(kCallFrame, from, kWait) >= 0);
    QCOMPARE(rig.linesAfterReady(), (QStringList{"dial 12 0", "drop", "dial 13 0"}));
}

QTEST_GUILESS_MAIN(TestCallControl)
#include "tst_callcontrol.moc"
