// The serial link to the shield: repeats of unanswered requests, framing of
// what arrives, and a line that goes away and comes back.

#include "rig/rig.h"

#include <QtTest>

using namespace rig;

namespace {
const QByteArray kOpened = QByteArray("DEBUG: USART: Успешно открыт порт");
const QByteArray kClosed = QByteArray("DEBUG: USART: порт закрыт после ошибки:");
// The driver repeats an unanswered request every 700 ms. A test sees each
// repeat as late as the two processes get to run, so a repeat seen late
// shortens the next gap as well: both margins stretch with timeScale().
constexpr int kRepeatMs = 700;
bool repeatGapOk(qint64 gap)
{
    return gap >= kRepeatMs - scaled(200) && gap <= kRepeatMs + scaled(500);
}
}

class TestSerialLink : public QObject
{
    Q_OBJECT
private slots:
    void silentShieldGetsFiveRepeatsThenError();
    void answerWithWrongChecksumIsIgnoredAndRequestRepeated();
    void answersSplitInTwoWritesAreReassembled();
    void twoAnswersInOneWriteAreBothHandled();
    void hungUpLineStaysIdleAndIsReopened();
};

void TestSerialLink::silentShieldGetsFiveRepeatsThenError()
{
    Rig rig;
    QVERIFY(rig.log.isBound());
    QVERIFY(rig.driver.start());
    qint64 errorAt = -1;
    QVERIFY2(waitUntil([&] {
        if (rig.log.messages("Controller").contains("ERROR CMD"))
            errorAt = rig.shield.clock.elapsed();
        return errorAt >= 0;
    }, scaled(9000), [&] { rig.shield.pump(); }), "no ERROR CMD after the repeats");
    // Nothing may follow the error.
    QTest::qWait(1500);
    rig.shield.pump();

    const auto& frames = rig.shield.frames;
    QCOMPARE(frames.size(), 6);
    for (const auto& f : frames)
        QCOMPARE(spaced(f.bytes), QString("FF 65 48 A0 FF FF FF FF FF 99"));
    for (int i = 1; i < frames.size(); ++i) {
        const qint64 gap = frames.at(i).atMs - frames.at(i - 1).atMs;
        QVERIFY2(repeatGapOk(gap), qPrintable(QString("repeat %1 after %2 ms").arg(i).arg(gap)));
    }
    const qint64 errorAfterFirst = errorAt - frames.first().atMs;
    // The sixth period ends the repeats: 4200 ms.
    QVERIFY2(errorAfterFirst >= 6 * kRepeatMs - scaled(300) && errorAfterFirst <= 6 * kRepeatMs + scaled(1300),
             qPrintable(QString("ERROR CMD %1 ms after the first request").arg(errorAfterFirst)));
    QCOMPARE(rig.log.messages("Controller"),
             (QList<QByteArray>{"Repeat CMD ", "Repeat CMD ", "Repeat CMD ", "Repeat CMD ",
                                "Repeat CMD ", "ERROR CMD"}));
    QVERIFY(!rig.driver.lines().contains("shield_ready"));
    QVERIFY(rig.driver.running());
}

void TestSerialLink::answerWithWrongChecksumIsIgnoredAndRequestRepeated()
{
    Rig rig;
    QVERIFY(rig.log.isBound());
    QVERIFY(rig.driver.start());
    QVERIFY(rig.shield.waitFrame(frame(VERSION), 0, kWait) == 0);
    QByteArray bad = identityAnswer(VERSION, Identity());
    bad[9] = char(bad.at(9) ^ 0x01);
    rig.shield.send(bad);

    QVERIFY(rig.shield.waitFrame(frame(VERSION), 1, scaled(3000)) == 1);
    const qint64 gap = rig.shield.frames.at(1).atMs - rig.shield.frames.at(0).atMs;
    QVERIFY2(repeatGapOk(gap), qPrintable(QString("repeated after %1 ms").arg(gap)));
    QVERIFY(!rig.log.messages("Controller").contains("Version 2"));

    // A good answer to the repeat completes the start-up.
    QVERIFY(rig.answerIdentity(Identity()));
    QVERIFY(rig.driver.waitLine("shield_ready", kWait));
    QCOMPARE(rig.shield.framesFrom(0),
             (QStringList{spaced(frame(VERSION)), spaced(frame(VERSION)), spaced(frame(FIRMWARE)),
                          spaced(frame(UID_0)), spaced(frame(UID_1)), spaced(frame(UID_2))}));
}

void TestSerialLink::answersSplitInTwoWritesAreReassembled()
{
    Rig rig;
    QVERIFY(rig.log.isBound());
    QVERIFY(rig.driver.start());
    int from = 0;
    for (uint8_t request : {VERSION, FIRMWARE, UID_0, UID_1, UID_2}) {
        const int at = rig.shield.waitFrame(frame(request), from, kWait);
        QVERIFY2(at >= 0, qPrintable(QString("no request %1").arg(request, 0, 16)));
        from = at + 1;
        const QByteArray answer = identityAnswer(request, Identity());
        rig.shield.send(answer.left(5));
        QTest::qWait(20);
        rig.shield.send(answer.mid(5));
    }
    QVERIFY(rig.driver.waitLine("shield_ready", kWait));
    QVERIFY(rig.driver.lines().contains("ID: 1abc0de"));
    // Each answer was taken at once: no request was repeated.
    QCOMPARE(rig.shield.framesFrom(0).size(), 5);
}

void TestSerialLink::twoAnswersInOneWriteAreBothHandled()
{
    Rig rig;
    QVERIFY(rig.log.isBound());
    QVERIFY(rig.driver.start());
    QVERIFY(rig.shield.waitFrame(frame(VERSION), 0, kWait) == 0);
    Identity id;
    id.version = 4;
    id.firmware = 0x0123;
    rig.shield.send(identityAnswer(VERSION, id) + identityAnswer(FIRMWARE, id));
    // The driver goes on with UID 0 without waiting for another firmware answer.
    QVERIFY(rig.shield.waitFrame(frame(UID_0), 0, kWait) >= 0);
    for (uint8_t request : {UID_0, UID_1, UID_2}) {
        QVERIFY(rig.shield.waitFrame(frame(request), 0, kWait) >= 0);
        rig.shield.send(identityAnswer(request, id));
    }
    QVERIFY(rig.driver.waitLine("shield_ready", kWait));
    const QStringList lines = rig.driver.lines();
    QVERIFY(lines.contains("Shield: 4"));
    QVERIFY(lines.contains("Program_STM: 291"));
    QCOMPARE(rig.shield.framesFrom(0),
             (QStringList{spaced(frame(VERSION)), spaced(frame(FIRMWARE)), spaced(frame(UID_0)),
                          spaced(frame(UID_1)), spaced(frame(UID_2))}));
}

void TestSerialLink::hungUpLineStaysIdleAndIsReopened()
{
    Rig rig;
    QVERIFY(rig.start());
    QCOMPARE(rig.driver.stderrBytes().count(kOpened), 1);

    // Twice: the first hang-up must leave nothing behind that keeps the
    // second from closing the port.
    for (int hangUps = 1; hangUps <= 2; ++hangUps) {
        rig.shield.hangUp();
        QVERIFY2(waitUntil([&] { return rig.driver.stderrBytes().count(kClosed) == hangUps; }, kWait),
                 rig.driver.stderrBytes().constData());
        if (hangUps == 1) {
            const double cpuBefore = rig.driver.cpuSeconds();
            QElapsedTimer wall;
            wall.start();
            QTest::qWait(3000);
            const double share = (rig.driver.cpuSeconds() - cpuBefore) / (wall.elapsed() / 1000.0);
            QVERIFY2(share < 0.30, qPrintable(QString("CPU share %1 of a core with the line hung up").arg(share)));
            QVERIFY(rig.driver.running());
        }

        QVERIFY(rig.shield.open());
        QVERIFY2(waitUntil([&] { return rig.driver.stderrBytes().count(kOpened) == hangUps + 1; }, scaled(3500)),
                 rig.driver.stderrBytes().constData());
        rig.shield.pump();
        const int from = rig.shield.frames.size();
        QVERIFY(rig.dial(12, "dial 12"));
        QVERIFY(rig.shield.waitFrame(kCallFrame, from, kWait) >= 0);
    }
}

QTEST_GUILESS_MAIN(TestSerialLink)
#include "tst_seriallink.moc"
