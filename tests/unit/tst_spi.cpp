// One audio block exchange through the board library, and the idle block.

#include "libzq-board-korvel-20203.h"
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

QTEST_APPLESS_MAIN(TstSpi)
#include "tst_spi.moc"
