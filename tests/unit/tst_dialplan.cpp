// Dialled-number arithmetic and the virtual / blocked apartment sets.

#include "zma/dialplan.h"

#include <QtTest>
#include <atomic>
#include <thread>

class TstDialPlan : public QObject
{
    Q_OBJECT

private slots:
    void dialFromFrameData_data();
    void dialFromFrameData();
    void gatesModeDialJoinsPrefixAndSuffix();
    void prefixSuffixCombine_data();
    void prefixSuffixCombine();
    void listsAreSeparate();
    void concurrentRefillAndLookupSurvive();
};

void TstDialPlan::dialFromFrameData_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<uint>("dial");
    QTest::newRow("12 00") << QByteArray("\x12\x00", 2) << 18u;
    QTest::newRow("12 21") << QByteArray("\x12\x21", 2) << 51u;
    QTest::newRow("FF 00") << QByteArray("\xFF\x00", 2) << 255u;
    QTest::newRow("05 03") << QByteArray("\x05\x03", 2) << 7u;
}

void TstDialPlan::dialFromFrameData()
{
    QFETCH(QByteArray, data);
    QFETCH(uint, dial);
    QCOMPARE(DialPlan::calcDial(&data), dial);
}

void TstDialPlan::gatesModeDialJoinsPrefixAndSuffix()
{
    const QByteArray data("\x22\x00\x01\x00", 4);
    QCOMPARE(DialPlan::calcDialGatesMode(&data), 134u);
}

void TstDialPlan::prefixSuffixCombine_data()
{
    QTest::addColumn<int>("prefix");
    QTest::addColumn<int>("suffix");
    QTest::addColumn<int>("result");
    QTest::newRow("12,34") << 12 << 34 << 1234;
    QTest::newRow("3,7") << 3 << 7 << 37;
    QTest::newRow("12,0") << 12 << 0 << 12;
    QTest::newRow("0,5") << 0 << 5 << 5;
    QTest::newRow("255,255 wraps") << 255 << 255 << 58647;
}

void TstDialPlan::prefixSuffixCombine()
{
    QFETCH(int, prefix);
    QFETCH(int, suffix);
    QFETCH(int, result);
    QCOMPARE(int(DialPlan::combinePrefixSuffix(uint16_t(prefix), uint16_t(suffix))), result);
}

void TstDialPlan::listsAreSeparate()
{
    DialPlan plan;
    QVERIFY(!plan.isBlockPhone(0));
    QVERIFY(!plan.isBlockPhone(5));

    plan.insert(DialPlan::BlackList, 5);
    plan.insert(DialPlan::ImitList, 7);
    QVERIFY(plan.isBlockPhone(5));
    QVERIFY(!plan.isImitPhone(5));
    QVERIFY(plan.isImitPhone(7));
    QVERIFY(!plan.isBlockPhone(7));

    plan.clearList(DialPlan::BlackList);
    QVERIFY(!plan.isBlockPhone(5));
    QVERIFY(plan.isImitPhone(7));
    plan.clearList(DialPlan::ImitList);
    QVERIFY(!plan.isImitPhone(7));
    QVERIFY(plan.numbers(DialPlan::ImitList).isEmpty());
}

void TstDialPlan::concurrentRefillAndLookupSurvive()
{
    DialPlan plan;
    std::atomic<bool> done{false};
    // Refills the way the console thread does while the main thread looks up.
    std::thread writer([&] {
        for (int round = 0; round < 200; ++round) {
            plan.clearList(DialPlan::BlackList);
            for (unsigned n = 0; n < 500; ++n)
                plan.insert(DialPlan::BlackList, n);
        }
        done = true;
    });
    long hits = 0;
    while (!done) {
        for (unsigned n = 0; n < 500; n += 7)
            hits += plan.isBlockPhone(n) ? 1 : 0;
    }
    writer.join();
    Q_UNUSED(hits)
    QCOMPARE(plan.numbers(DialPlan::BlackList).size(), 500);
    QVERIFY(plan.isBlockPhone(499));
    QVERIFY(!plan.isBlockPhone(500));
}

QTEST_APPLESS_MAIN(TstDialPlan)
#include "tst_dialplan.moc"
