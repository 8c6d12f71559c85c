// Shield frame checksum, encoding, decoding and cutting frames from the line.

#include "commands/commandtesk.h"
#include "commands/crc_korvel2023.h"
#include "commands/receivestream.h"
#include "console/consolescan.h"
#include "tests/support/refcrc.h"

#include <QtTest>

class TstFrame : public QObject
{
    Q_OBJECT

private slots:
    void checksumOfCheckStringIsA1();
    void checksumCoversBytesOneToEight();
    void shortBufferCountsMissingBytesAsZero();
    void encodedFrameMatchesWorkedExample_data();
    void encodedFrameMatchesWorkedExample();
    void anyChangeInBytesOneToNineFailsComparison();
    void changedStartByteStillPasses();
    void receivedFrameDecodes_data();
    void receivedFrameDecodes();
    void changingCmdAfterConstructionKeepsOldChecksum();

    void splitFrameIsReassembledAtEveryOffset();
    void twoFramesInOneChunkBothArrive();
    void garbageBeforeFrameIsSkipped();
    void frameWithWrongChecksumYieldsNothing();
    void shortChunkWaitsForTheRest();
    void overBoundOldestBytesGoAndAreCounted();
};

static CommandTESK standard(int mode, uint8_t cmd)
{
    return CommandTESK(mode, 0x48, 0x65, cmd, QByteArray(5, char(0xFF)));
}

void TstFrame::checksumOfCheckStringIsA1()
{
    const QByteArray check("123456789");
    uint8_t viaClass = 0;
    unsigned char viaConsole = 0;
    for (char c : check) {
        viaClass = CRC_Korvel2023::calc_oneByte(viaClass, static_cast<uint8_t>(c));
        viaConsole = CRC_uart(viaConsole, static_cast<unsigned char>(c));
    }
    QCOMPARE(int(viaClass), 0xA1);
    QCOMPARE(int(viaConsole), 0xA1);
}

void TstFrame::checksumCoversBytesOneToEight()
{
    const CRC_Korvel2023 crc;
    // Byte 0 and bytes past 8 must not count; both overloads agree.
    const QByteArray buf = QByteArray("\x00" "12345678" "\x5A\x77", 11);
    QCOMPARE(int(crc.calc(buf)), int(refCrc8(buf, 1, 9)));
    QByteArray other = buf;
    other[0] = char(0xFF);
    other[9] = char(0x01);
    other[10] = char(0x02);
    QCOMPARE(crc.calc(other), crc.calc(buf));
    QCOMPARE(crc.calc(reinterpret_cast<const unsigned char*>(buf.constData())), crc.calc(buf));
}

void TstFrame::shortBufferCountsMissingBytesAsZero()
{
    const CRC_Korvel2023 crc;
    const QByteArray shortBuf = hexBytes("FF 65 48");
    QByteArray padded = shortBuf;
    padded.append(QByteArray(6, '\0'));
    QCOMPARE(int(crc.calc(shortBuf)), int(refCrc8(padded, 1, 9)));
    QCOMPARE(int(crc.calc(QByteArray())), 0);
}

void TstFrame::encodedFrameMatchesWorkedExample_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("cmd");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("call") << MODE_LINK << int(CMD_CALL) << hexBytes("FF 65 48 D1 02 FF FF FF FF 7C");
    QTest::newRow("pickup") << MODE_LINK << int(CMD_PICKUP) << hexBytes("FF 65 48 D1 03 FF FF FF FF B1");
    QTest::newRow("drop") << MODE_LINK << int(CMD_DROP) << hexBytes("FF 65 48 D1 04 FF FF FF FF E0");
    QTest::newRow("open1 link") << MODE_LINK << int(CMD_OPEN_1) << hexBytes("FF 65 48 D1 08 FF FF FF FF C1");
    QTest::newRow("open1 free") << MODE_CMD << int(CMD_OPEN_1_FREE) << hexBytes("FF 65 48 21 FF FF FF FF FF 44");
    QTest::newRow("read version") << MODE_CMD << int(CMD_READ_VERSION_ZMA) << hexBytes("FF 65 48 A0 FF FF FF FF FF 99");
    QTest::newRow("read uid 2") << MODE_CMD << int(CMD_READ_UID_2) << hexBytes("FF 65 48 A5 FF FF FF FF FF 72");
}

void TstFrame::encodedFrameMatchesWorkedExample()
{
    QFETCH(int, mode);
    QFETCH(int, cmd);
    QFETCH(QByteArray, expected);
    const QByteArray frame = standard(mode, static_cast<uint8_t>(cmd)).toArray();
    QCOMPARE(frame.toHex(' '), expected.toHex(' '));
    QVERIFY(CRC_Korvel2023().comparision(frame));
}

void TstFrame::anyChangeInBytesOneToNineFailsComparison()
{
    const CRC_Korvel2023 crc;
    const QList<QByteArray> frames = {
        standard(MODE_LINK, CMD_CALL).toArray(),
        standard(MODE_CMD, CMD_READ_UID_2).toArray(),
        hexBytes("FF 65 48 D1 07 11 22 33 44 00"),
    };
    for (QByteArray frame : frames) {
        frame[9] = char(refCrc8(frame, 1, 9));
        QVERIFY(crc.comparision(frame));
        for (int i = 1; i <= 9; ++i) {
            for (uint8_t delta : {0x01, 0x10, 0x80, 0xFF, 0x5A}) {
                QByteArray bad = frame;
                bad[i] = char(static_cast<uint8_t>(bad.at(i)) ^ delta);
                QVERIFY2(!crc.comparision(bad), qPrintable(QString("byte %1 ^ %2: %3")
                                                               .arg(i).arg(delta)
                                                               .arg(QString(bad.toHex(' ')))));
                QVERIFY(!crc.comparision(reinterpret_cast<const unsigned char*>(bad.constData())));
            }
        }
    }
}

void TstFrame::changedStartByteStillPasses()
{
    const CRC_Korvel2023 crc;
    for (uint8_t start : {0x00, 0x01, 0x7F, 0xFE}) {
        QByteArray frame = standard(MODE_LINK, CMD_DROP).toArray();
        frame[0] = char(start);
        QVERIFY(crc.comparision(frame));
    }
}

void TstFrame::receivedFrameDecodes_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("cmd");
    QTest::addColumn<QByteArray>("data");
    QTest::newRow("link") << frameWithRefCrc("FF 65 48 D1 07 11 22 33 44")
                          << MODE_LINK << 0x07 << hexBytes("11 22 33 44");
    QTest::newRow("cmd") << frameWithRefCrc("FF 65 48 A2 11 22 33 44 55")
                         << MODE_CMD << 0xA2 << hexBytes("11 22 33 44 55");
    QTest::newRow("cmd FF") << frameWithRefCrc("FF 65 48 FF 01 02 03 04 05")
                            << MODE_CMD << 0xFF << hexBytes("01 02 03 04 05");
    QTest::newRow("D1 in byte 4 is data") << frameWithRefCrc("FF 65 48 01 D1 00 00 00 00")
                                          << MODE_CMD << 0x01 << hexBytes("D1 00 00 00 00");
}

void TstFrame::receivedFrameDecodes()
{
    QFETCH(QByteArray, frame);
    QFETCH(int, mode);
    QFETCH(int, cmd);
    QFETCH(QByteArray, data);
    const CommandTESK c(frame);
    QCOMPARE(c.mode, mode);
    QCOMPARE(int(c.cmd), cmd);
    QCOMPARE(c.data.toHex(' '), data.toHex(' '));
    QCOMPARE(int(c.addressZMA), 0x65);
    QCOMPARE(int(c.addressBUD), 0x48);
}

void TstFrame::changingCmdAfterConstructionKeepsOldChecksum()
{
    CommandTESK c = standard(MODE_LINK, CMD_CALL);
    c.cmd = CMD_DROP;
    const QByteArray frame = c.toArray();
    QCOMPARE(int(uint8_t(frame.at(4))), int(CMD_DROP));
    QCOMPARE(int(uint8_t(frame.at(9))), 0x7C);
    QVERIFY(!CRC_Korvel2023().comparision(frame));
}

// ------------------------------------------------------------ ReceiveStream

void TstFrame::splitFrameIsReassembledAtEveryOffset()
{
    const QByteArray a = standard(MODE_LINK, CMD_DROP).toArray();
    const QByteArray b = frameWithRefCrc("FF 65 48 A0 02 05 FF FF FF");
    const QByteArray stream = a + b;
    for (int cut = 0; cut <= stream.size(); ++cut) {
        ReceiveStream rs;
        QList<QByteArray> got = rs.push(stream.left(cut));
        got += rs.push(stream.mid(cut));
        QCOMPARE(got, (QList<QByteArray>{a, b}));
        QCOMPARE(rs.pending(), 0);
    }
}

void TstFrame::twoFramesInOneChunkBothArrive()
{
    const QByteArray a = standard(MODE_LINK, CMD_CALL).toArray();
    const QByteArray b = standard(MODE_CMD, CMD_READ_UID_2).toArray();
    ReceiveStream rs;
    QCOMPARE(rs.push(a + b), (QList<QByteArray>{a, b}));
}

void TstFrame::garbageBeforeFrameIsSkipped()
{
    const QByteArray a = standard(MODE_LINK, CMD_PICKUP).toArray();
    ReceiveStream rs;
    // Includes a stray start byte so the cutter has to resynchronise.
    QCOMPARE(rs.push(hexBytes("00 13 FF 65 48") + a), QList<QByteArray>{a});
}

void TstFrame::frameWithWrongChecksumYieldsNothing()
{
    QByteArray bad = standard(MODE_LINK, CMD_CALL).toArray();
    bad[9] = char(uint8_t(bad.at(9)) ^ 0x01);
    ReceiveStream rs;
    QVERIFY(rs.push(bad).isEmpty());
    const QByteArray good = standard(MODE_LINK, CMD_DROP).toArray();
    QCOMPARE(rs.push(good), QList<QByteArray>{good});
}

void TstFrame::shortChunkWaitsForTheRest()
{
    const QByteArray a = standard(MODE_CMD, CMD_OPEN_1_FREE).toArray();
    ReceiveStream rs;
    QVERIFY(rs.push(a.left(9)).isEmpty());
    QCOMPARE(rs.push(a.mid(9)), QList<QByteArray>{a});
}

void TstFrame::overBoundOldestBytesGoAndAreCounted()
{
    const QByteArray a = standard(MODE_LINK, CMD_DROP).toArray();
    const QByteArray b = standard(MODE_CMD, CMD_OPEN_1_FREE).toArray();
    ReceiveStream rs(64);
    rs.append(QByteArray(100, char(0x00)));
    QCOMPARE(rs.takeOverflow(), qint64(36));
    QCOMPARE(rs.pending(), 64);
    // The newest bytes stay, so frames that arrive now are still decoded.
    QCOMPARE(rs.push(a + b.left(4)), QList<QByteArray>{a});
    QCOMPARE(rs.takeOverflow(), qint64(14));
    QCOMPARE(rs.push(b.mid(4)), QList<QByteArray>{b});
    QCOMPARE(rs.takeOverflow(), qint64(0));
    QCOMPARE(rs.pending(), 0);

    // Bytes already taken by next() do not count: 14 wait, 50 more fit.
    rs.append(a + a + b.left(4));
    QByteArray taken;
    QVERIFY(rs.next(&taken));
    QCOMPARE(rs.pending(), 14);
    QCOMPARE(rs.push(b.mid(4) + QByteArray(44, char(0x00))), (QList<QByteArray>{a, b}));
    QCOMPARE(rs.takeOverflow(), qint64(0));
}

QTEST_APPLESS_MAIN(TstFrame)
#include "tst_frame.moc"
