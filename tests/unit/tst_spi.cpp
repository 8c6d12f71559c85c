// One audio block exchange through the board library, the idle block, and
// the rule that keeps the parent's audio from piling up ahead of the line.

#include "libzq-board-korvel-20203.h"
#include "sound/playouttrim.h"
#include "sound/sound.h"
#include "sound/spi.h"

#include <QtTest>
#include <vector>

// Recorded board calls. These definitions take precedence over the shared
// stand-in library, so the exchange can be watched from the board's side.
namespace {
struct BoardCall {
    char what; // 'c' chip select, 't' transfer
    int value; // cs level or transfer length
    QByteArray tx;
};
std::vector<BoardCall> calls;
QByteArray rxPattern;
}

extern "C" void board_spi_set_cs(uint8_t level)
{
    calls.push_back({'c', level, {}});
}

extern "C" void board_spi_transfer(uint8_t* tx, uint8_t* rx, uint16_t len)
{
    calls.push_back({'t', len, QByteArray(reinterpret_cast<const char*>(tx), len)});
    for (int i = 0; i < len; ++i)
        rx[i] = i < rxPattern.size() ? static_cast<uint8_t>(rxPattern.at(i)) : 0;
}

class TstSpi : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void bytesToWordsAndBack();
    void exchangeSelectsTransfersAndDeselects();
    void shortReceiveBufferGrowsToBlock();
    void newSoundHasIdleBlock();
    void trimDropsOnlyWhatStaysAhead_data();
    void trimDropsOnlyWhatStaysAhead();
};

static QByteArray pattern(int size, int mul, int add)
{
    QByteArray p(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        p[i] = char((i * mul + add) & 0xFF);
    return p;
}

void TstSpi::init()
{
    calls.clear();
    rxPattern = pattern(AUDIO_BLOCK_BYTES, 7, 3);
}

void TstSpi::bytesToWordsAndBack()
{
    const QByteArray bytes = QByteArray::fromHex("34127856");
    uint16_t words[2] = {0, 0};
    SPI::byteArray_to_uint16(&bytes, words, 2);
    QCOMPARE(words[0], uint16_t(0x1234));
    QCOMPARE(words[1], uint16_t(0x5678));
    QByteArray back;
    SPI::uint16_to_byteArray(words, &back, 2);
    QCOMPARE(back, bytes);
}

void TstSpi::exchangeSelectsTransfersAndDeselects()
{
    SPI spi;
    QByteArray block = pattern(AUDIO_BLOCK_BYTES, 13, 1);
    QByteArray from(AUDIO_BLOCK_BYTES, '\0');
    spi.data_transfer(&block, &from, AUDIO_BLOCK_BYTES);

    QCOMPARE(int(calls.size()), 3);
    QCOMPARE(calls[0].what, 'c');
    QCOMPARE(calls[0].value, 0);
    QCOMPARE(calls[1].what, 't');
    QCOMPARE(calls[1].value, 512);
    QCOMPARE(calls[2].what, 'c');
    QCOMPARE(calls[2].value, 1);
    QCOMPARE(calls[1].tx, block);
    QCOMPARE(from, rxPattern);
}

void TstSpi::shortReceiveBufferGrowsToBlock()
{
    SPI spi;
    QByteArray block(AUDIO_BLOCK_BYTES, char(0x11));
    QByteArray from(10, '\0');
    spi.data_transfer(&block, &from, AUDIO_BLOCK_BYTES);
    QCOMPARE(from.size(), AUDIO_BLOCK_BYTES);
    QCOMPARE(from, rxPattern);
}

void TstSpi::newSoundHasIdleBlock()
{
    Sound sound;
    QByteArray idle;
    for (int i = 0; i < 256; ++i)
        idle.append("\xFF\x7F", 2);
    QCOMPARE(sound.dataToShieldNull, idle);
    QVERIFY(!sound.dataToShieldBuffer.detect_data());
}

void TstSpi::trimDropsOnlyWhatStaysAhead_data()
{
    // Blocks arriving from the parent before each exchange; the exchange then
    // asks the rule and takes one block if any waits.
    QTest::addColumn<QVector<int>>("arrivals");
    QTest::addColumn<int>("drops");
    QTest::addColumn<int>("maxLateDepth"); // over the last third; -1: not checked
    auto run = [](QVector<int> v, int value, int times) {
        v.insert(v.size(), times, value);
        return v;
    };
    const QVector<int> none;
    QTest::newRow("on time") << run(none, 1, 1000) << 0 << 1;
    QVector<int> jitter;
    for (int i = 0; i < 100; ++i)
        jitter << 0 << 2 << 1 << 1 << 1 << 1 << 1 << 1 << 1 << 1; // one block late in ten
    QTest::newRow("late now and then") << jitter << 0 << 2;
    QTest::newRow("stall then burst") << run(run(run(run(none, 1, 200), 0, 4), 5, 1), 1, 300) << 4 << 1;
    QTest::newRow("ten at once, then paced") << run(run(none, 10, 1), 1, 500) << 9 << 1;
    QVector<int> chunks;
    for (int i = 0; i < 100; ++i)
        chunks << 8 << 0 << 0 << 0 << 0 << 0 << 0 << 0;
    QTest::newRow("chunks of eight") << chunks << 0 << 8;
    QVector<int> fast;
    for (int i = 0; i < 1875; ++i)
        fast << (i % 100 == 99 ? 2 : 1); // a clock 1 % fast, 30 s
    QTest::newRow("parent 1 % fast") << fast << 18 << 3;
    // Above the target for one exchange less than the window: kept.
    QTest::newRow("ahead 61 exchanges") << run(run(run(run(none, 3, 1), 1, 60), 0, 1), 1, 100) << 0 << -1;
    QTest::newRow("ahead 62 exchanges") << run(run(run(run(none, 3, 1), 1, 61), 0, 1), 1, 100) << 1 << -1;
}

void TstSpi::trimDropsOnlyWhatStaysAhead()
{
    QFETCH(QVector<int>, arrivals);
    QFETCH(int, drops);
    QFETCH(int, maxLateDepth);
    PlayoutTrim trim;
    int waiting = 0;
    int dropped = 0;
    int lateDepth = 0;
    for (int i = 0; i < arrivals.size(); ++i) {
        waiting += arrivals[i];
        if (i >= arrivals.size() * 2 / 3)
            lateDepth = qMax(lateDepth, waiting);
        if (trim.dropOldest(waiting)) {
            QVERIFY2(waiting > PlayoutTrim::kFloorDepth, qPrintable(QString("dropped at depth %1").arg(waiting)));
            --waiting;
            ++dropped;
        }
        if (waiting > 0)
            --waiting;
    }
    QCOMPARE(dropped, drops);
    if (maxLateDepth >= 0)
        QVERIFY2(lateDepth <= maxLateDepth, qPrintable(QString("depth %1 late in the run").arg(lateDepth)));
}

QTEST_APPLESS_MAIN(TstSpi)
#include "tst_spi.moc"
