// Which frame each user action queues, and where, in each line state.

#include "tests/support/refcrc.h"
#include "zma/modelkorvel2023.h"
#include "zma/settings.h"

#include <QtTest>

using Action = void (ModelKorvel2023::*)();
Q_DECLARE_METATYPE(Action)

class TstModel : public QObject
{
    Q_OBJECT

private slots:
    void actionQueuesFrame_data();
    void actionQueuesFrame();
    void pickupDropsOnlyCallFrames();
    void sendQueuesAreBounded_data();
    void sendQueuesAreBounded();
};

static QByteArrayList frames(const QList<CommandTESK>& queue)
{
    QByteArrayList out;
    for (const auto& c : queue)
        out << c.toArray().toHex(' ');
    return out;
}

void TstModel::actionQueuesFrame_data()
{
    QTest::addColumn<Action>("action");
    QTest::addColumn<int>("status");
    // Expected contents of the two queues after the action.
    QTest::addColumn<QByteArrayList>("send");
    QTest::addColumn<QByteArrayList>("cmdMode");

    auto one = [](const QByteArray& f) { return QByteArrayList{f.toHex(' ')}; };
    const QByteArrayList none;
    const QByteArray call = hexBytes("FF 65 48 D1 02 FF FF FF FF 7C");
    const QByteArray drop = hexBytes("FF 65 48 D1 04 FF FF FF FF E0");
    const QByteArray open1Link = hexBytes("FF 65 48 D1 08 FF FF FF FF C1");
    const QByteArray open2Link = frameWithRefCrc("FF 65 48 D1 09 FF FF FF FF");
    const QByteArray open1Free = hexBytes("FF 65 48 21 FF FF FF FF FF 44");
    const QByteArray open2Free = frameWithRefCrc("FF 65 48 23 FF FF FF FF FF");

    QTest::newRow("call") << &ModelKorvel2023::call << 0 << one(call) << none;
    QTest::newRow("drop free") << &ModelKorvel2023::drop << 0 << none << none;
    QTest::newRow("drop call") << &ModelKorvel2023::drop << 3 << one(drop) << none;
    QTest::newRow("drop pickup") << &ModelKorvel2023::drop << 5 << none << one(drop);
    QTest::newRow("drop status 1") << &ModelKorvel2023::drop << 1 << none << none;
    QTest::newRow("open1 free") << &ModelKorvel2023::open_1 << 0 << none << one(open1Free);
    QTest::newRow("open1 call") << &ModelKorvel2023::open_1 << 3 << one(open1Link) << none;
    QTest::newRow("open1 pickup") << &ModelKorvel2023::open_1 << 5 << none << one(open1Link);
    QTest::newRow("open1 status 1") << &ModelKorvel2023::open_1 << 1 << none << none;
    QTest::newRow("open2 free") << &ModelKorvel2023::open_2 << 0 << none << one(open2Free);
    QTest::newRow("open2 call") << &ModelKorvel2023::open_2 << 3 << one(open2Link) << none;
    QTest::newRow("open2 pickup") << &ModelKorvel2023::open_2 << 5 << none << one(open2Link);
    QTest::newRow("open2 status 1") << &ModelKorvel2023::open_2 << 1 << none << none;

    QTest::newRow("read version") << &ModelKorvel2023::read_version_ZMA << 0 << none
                                  << one(hexBytes("FF 65 48 A0 FF FF FF FF FF 99"));
    QTest::newRow("read firmware") << &ModelKorvel2023::read_version_firmware << 0 << none
                                   << one(frameWithRefCrc("FF 65 48 A2 FF FF FF FF FF"));
    QTest::newRow("read uid 0") << &ModelKorvel2023::read_uid_0_ZMA << 0 << none
                                << one(frameWithRefCrc("FF 65 48 A3 FF FF FF FF FF"));
    QTest::newRow("read uid 1") << &ModelKorvel2023::read_uid_1_ZMA << 0 << none
                                << one(frameWithRefCrc("FF 65 48 A4 FF FF FF FF FF"));
    QTest::newRow("read uid 2") << &ModelKorvel2023::read_uid_2_ZMA << 0 << none
                                << one(hexBytes("FF 65 48 A5 FF FF FF FF FF 72"));
}

void TstModel::actionQueuesFrame()
{
    QFETCH(Action, action);
    QFETCH(int, status);
    QFETCH(QByteArrayList, send);
    QFETCH(QByteArrayList, cmdMode);

    Settings settings;
    ModelKorvel2023 model(&settings);
    model.status = static_cast<uint8_t>(status);
    (model.*action)();
    QCOMPARE(frames(model.snapshotSend()), send);
    QCOMPARE(frames(model.snapshotSendCmdMode()), cmdMode);
    QCOMPARE(int(model.status), status);
}

void TstModel::pickupDropsOnlyCallFrames()
{
    Settings settings;
    ModelKorvel2023 model(&settings);
    model.status = STATUS_CALL;
    model.call();
    model.open_1();
    model.call();
    model.drop();
    model.pickup();
    // The parent's commands stay ahead of the pickup, in their order.
    QCOMPARE(frames(model.snapshotSend()), (QByteArrayList{hexBytes("FF 65 48 D1 08 FF FF FF FF C1").toHex(' '),
                                                           hexBytes("FF 65 48 D1 04 FF FF FF FF E0").toHex(' '),
                                                           hexBytes("FF 65 48 D1 03 FF FF FF FF B1").toHex(' ')}));
    QVERIFY(model.snapshotSendCmdMode().isEmpty());
}

void TstModel::sendQueuesAreBounded_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("link"); // the queue sent as the shield talks, else the per-tick one
    QTest::addColumn<QString>("refusal");
    const QString cmdFull = "ERROR: shield command queue full, command refused";
    QTest::newRow("free") << int(STATUS_FREE) << false << cmdFull;
    QTest::newRow("picked up") << int(STATUS_PICKUP) << false << cmdFull;
    QTest::newRow("ringing") << int(STATUS_CALL) << true << "ERROR: shield link queue full, command refused";
}

void TstModel::sendQueuesAreBounded()
{
    QFETCH(int, status);
    QFETCH(bool, link);
    QFETCH(QString, refusal);
    Settings settings;
    ModelKorvel2023 model(&settings);
    model.status = static_cast<uint8_t>(status);
    auto queued = [&] { return frames(link ? model.snapshotSend() : model.snapshotSendCmdMode()); };
    model.open_1();
    model.open_2();
    const QByteArrayList pair = queued();
    QCOMPARE(pair.size(), 2);
    for (int i = 2; i < 100; ++i) {
        if (i >= ModelKorvel2023::kMaxQueued)
            QTest::ignoreMessage(QtDebugMsg, qPrintable(refusal));
        if (i % 2)
            model.open_2();
        else
            model.open_1();
    }
    // The first 64 in order; the rest refused, each with the diagnostic.
    QByteArrayList expected;
    for (int i = 0; i < 32; ++i)
        expected << pair;
    QCOMPARE(queued(), expected);

    // Once the line has taken one there is room for one more, at the end.
    CommandTESK taken;
    QVERIFY(link ? model.takeSend(&taken) : model.takeSendCmdMode(&taken));
    model.open_2();
    expected.removeFirst();
    expected << pair.at(1);
    QCOMPARE(queued(), expected);
    QVERIFY((link ? model.snapshotSendCmdMode() : model.snapshotSend()).isEmpty());
}

QTEST_APPLESS_MAIN(TstModel)
#include "tst_model.moc"
