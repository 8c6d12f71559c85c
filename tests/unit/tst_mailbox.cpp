// The mutex-guarded FIFO that hands byte arrays between threads.

#include "utils/datatransmission.h"

#include <QtTest>
#include <thread>

class TstMailbox : public QObject
{
    Q_OBJECT

private slots:
    void entriesLeaveInOrderExactlyOnce();
    void emptyArrayIsAnEntry();
    void getDataRemembersLastRead();
    void getDataOnEmptyKeepsLastRead();
    void clearEmptiesButKeepsLastRead();
    void twoProducersLoseNothing();
    void boundedSetDropsOldest_data();
    void boundedSetDropsOldest();
};

void TstMailbox::entriesLeaveInOrderExactlyOnce()
{
    DataTransmission box;
    const QList<QByteArray> in = {"one", "two", QByteArray("\0three", 6), "four"};
    for (const auto& a : in)
        box.set_data(a);
    QCOMPARE(box.size(), in.size());
    for (const auto& a : in) {
        QVERIFY(box.detect_data());
        QCOMPARE(box.get_data(), a);
    }
    QVERIFY(!box.detect_data());
    QCOMPARE(box.size(), 0);
}

void TstMailbox::emptyArrayIsAnEntry()
{
    DataTransmission box;
    box.set_data(QByteArray());
    QVERIFY(box.detect_data());
    QCOMPARE(box.size(), 1);
    QVERIFY(box.get_data().isEmpty());
    QVERIFY(!box.detect_data());
}

void TstMailbox::getDataRemembersLastRead()
{
    DataTransmission box;
    box.set_data("alpha");
    box.set_data("beta");
    QCOMPARE(box.get_data(), QByteArray("alpha"));
    QCOMPARE(box.dataForRead, QByteArray("alpha"));
    QCOMPARE(box.get_data(), QByteArray("beta"));
    QCOMPARE(box.dataForRead, QByteArray("beta"));
}

void TstMailbox::getDataOnEmptyKeepsLastRead()
{
    DataTransmission box;
    box.set_data("last");
    box.get_data();
    QVERIFY(box.get_data().isEmpty());
    QCOMPARE(box.dataForRead, QByteArray("last"));
}

void TstMailbox::clearEmptiesButKeepsLastRead()
{
    DataTransmission box;
    box.clear();
    QVERIFY(!box.detect_data());

    box.set_data("read");
    box.get_data();
    box.set_data("x");
    box.set_data("y");
    box.clear();
    QVERIFY(!box.detect_data());
    QCOMPARE(box.size(), 0);
    QCOMPARE(box.dataForRead, QByteArray("read"));
}

void TstMailbox::twoProducersLoseNothing()
{
    DataTransmission box;
    constexpr int kPerProducer = 20000;
    auto produce = [&box](char id) {
        for (int i = 0; i < kPerProducer; ++i)
            box.set_data(QByteArray(1, id) + QByteArray::number(i));
    };
    std::thread p1(produce, 'a');
    std::thread p2(produce, 'b');

    // Consume while they produce: each producer's entries stay in its order.
    int next[2] = {0, 0};
    int got = 0;
    bool ordered = true;
    QElapsedTimer t;
    t.start();
    while (got < 2 * kPerProducer && t.elapsed() < 30000) {
        if (!box.detect_data()) {
            std::this_thread::yield();
            continue;
        }
        const QByteArray e = box.get_data();
        const int who = e.at(0) == 'a' ? 0 : 1;
        ordered = ordered && e.mid(1).toInt() == next[who];
        ++next[who];
        ++got;
    }
    p1.join();
    p2.join();
    QVERIFY(ordered);
    QCOMPARE(got, 2 * kPerProducer);
    QCOMPARE(next[0], kPerProducer);
    QCOMPARE(next[1], kPerProducer);
    QVERIFY(!box.detect_data());
}

void TstMailbox::boundedSetDropsOldest_data()
{
    QTest::addColumn<int>("already");
    QTest::addColumn<int>("maxBytes"); // entry i is QByteArray::number(i)
    QTest::addColumn<int>("droppedByLast");
    QTest::newRow("room left") << 5 << -1 << 0;
    QTest::newRow("exactly full after") << 9 << -1 << 0;
    QTest::newRow("one over") << 10 << -1 << 1;
    // Plain set_data may overfill; the bounded call trims back to 10.
    QTest::newRow("far over") << 15 << -1 << 6;
    QTest::newRow("bytes within bound") << 5 << 6 << 0;
    QTest::newRow("bytes over bound") << 5 << 3 << 3;
    // The new entry stays even when it alone is over the bound.
    QTest::newRow("new entry alone over bound") << 3 << 0 << 3;
}

void TstMailbox::boundedSetDropsOldest()
{
    QFETCH(int, already);
    QFETCH(int, maxBytes);
    QFETCH(int, droppedByLast);
    DataTransmission box;
    for (int i = 0; i < already; ++i)
        box.set_data(QByteArray::number(i));
    qint64 droppedBytes = 0;
    QCOMPARE(box.set_data_bounded(QByteArray::number(already), 10, maxBytes, &droppedBytes), droppedByLast);
    const int total = already + 1;
    QCOMPARE(box.size(), total - droppedByLast);
    qint64 keptBytes = 0, goneBytes = 0;
    for (int i = 0; i < total; ++i)
        (i < droppedByLast ? goneBytes : keptBytes) += QByteArray::number(i).size();
    QCOMPARE(box.bytes(), keptBytes);
    QCOMPARE(droppedBytes, goneBytes);
    for (int i = total - box.size(); i < total; ++i)
        QCOMPARE(box.get_data(), QByteArray::number(i));
    QVERIFY(!box.detect_data());
}

QTEST_APPLESS_MAIN(TstMailbox)
#include "tst_mailbox.moc"
