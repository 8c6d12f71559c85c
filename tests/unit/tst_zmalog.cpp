// zma-log's decoding: frames under Uart lines, however the reads cut them.

#include "commands/commandtesk.h"
#include "commands/framesplitter.h"
#include "commands/receivestream.h"
#include "log/logline.h"
#include "logdecoder.h"
#include "zma/dialplan.h"

#include <QRandomGenerator>
#include <QtTest>

namespace {
QByteArray frame(int mode, uint8_t to, uint8_t from, uint8_t cmd, const QByteArray& data)
{
    // CommandTESK puts addrBUD first: it is the receiver.
    return CommandTESK(mode, from, to, cmd, data).toArray();
}

QByteArray hex(const QByteArray& bytes)
{
    return bytes.toHex(' ').toUpper();
}

QByteArray logLine(const char* category, const QByteArray& message)
{
    return QByteArray("[Debug][10:00:00.000] [") + category + "]: " + message + "\r\n";
}

QByteArray dial(int mode, const QByteArray& data)
{
    const CommandTESK cmd(frame(mode, 0x48, 0x65, CMD_DIAL, data));
    return "apartment " + QByteArray::number(DialPlan::calcDial(&cmd.data)) + " (gate form "
        + QByteArray::number(DialPlan::calcDialGatesMode(&cmd.data)) + ")  crc ok";
}
}

class TstZmaLog : public QObject
{
    Q_OBJECT
private slots:
    void decodes_data();
    void decodes();
    void journalEntries_data();
    void journalEntries();
    void goodFramesAreThoseTheDriverTakes();
};

void TstZmaLog::decodes_data()
{
    QTest::addColumn<QList<QByteArray>>("lines"); // log lines, or saved lines with their receive time
    QTest::addColumn<QList<QByteArray>>("expected"); // in this order among the output lines, or the refusal
    QTest::addColumn<QList<QByteArray>>("only");

    const QByteArray dialCmd = frame(MODE_CMD, 0x48, 0x65, CMD_DIAL, QByteArray::fromHex("0C002A00FF"));
    const QByteArray dialLink = frame(MODE_LINK, 0x48, 0x65, CMD_DIAL, QByteArray::fromHex("05000300"));
    const QByteArray call = frame(MODE_CMD, 0x65, 0x48, CMD_CALL, QByteArray(5, char(0xFF)));
    const QByteArray done = frame(MODE_LINK, 0x48, 0x65, CMD_PICKUP_DONE, QByteArray(4, char(0xFF)));
    const QByteArray unknown = frame(MODE_LINK, 0x48, 0x65, 0x5A, QByteArray(4, 0));
    QByteArray bad = call;
    bad[9] = char(call.at(9) ^ 0x01);
    const QByteArray to48 = "shield→driver  to 48 from 65  ";

    QTest::newRow("dial, cmd mode: both forms as DialPlan")
        << QList<QByteArray>{logLine("Uart READ", hex(dialCmd))}
        << QList<QByteArray>{to48 + "cmd  CMD_DIAL  data 0C 00 2A 00 FF  " + dial(MODE_CMD, QByteArray::fromHex("0C002A00FF"))}
        << QList<QByteArray>{};
    QTest::newRow("dial, link mode: data from byte 5")
        << QList<QByteArray>{logLine("Uart READ", hex(dialLink))}
        << QList<QByteArray>{to48 + "link CMD_DIAL  data 05 00 03 00  " + dial(MODE_LINK, QByteArray::fromHex("05000300"))}
        << QList<QByteArray>{};
    QTest::newRow("bad checksum flagged")
        << QList<QByteArray>{logLine("Uart WRITE", hex(bad))}
        << QList<QByteArray>{"driver→shield  to 65 from 48  cmd  CMD_CALL  data FF FF FF FF FF  crc BAD (expected "
                             + hex(call.mid(9)) + ")"}
        << QList<QByteArray>{};
    QTest::newRow("link mode names its code, unknown in hex")
        << QList<QByteArray>{logLine("Uart READ", hex(done + unknown))}
        << QList<QByteArray>{to48 + "link CMD_PICKUP_DONE  data FF FF FF FF  crc ok",
                             to48 + "link cmd=0x5A  data 00 00 00 00  crc ok"}
        << QList<QByteArray>{};
    QTest::newRow("frame split across two reads")
        << QList<QByteArray>{logLine("Uart READ", hex(done.left(4))), logLine("Uart READ", hex(done.mid(4)))}
        << QList<QByteArray>{"shield→driver  4 bytes wait for the rest", to48 + "link CMD_PICKUP_DONE  data FF FF FF FF  crc ok"}
        << QList<QByteArray>{};
    QTest::newRow("frames joined, junk between, a tail waiting")
        << QList<QByteArray>{logLine("Uart READ", hex(done + QByteArray::fromHex("1234") + dialCmd + done.left(3)))}
        << QList<QByteArray>{to48 + "link CMD_PICKUP_DONE  data FF FF FF FF  crc ok", "shield→driver  junk 12 34",
                             to48 + "cmd  CMD_DIAL  data 0C 00 2A 00 FF  " + dial(MODE_CMD, QByteArray::fromHex("0C002A00FF")),
                             "shield→driver  3 bytes wait for the rest"}
        << QList<QByteArray>{};
    // Pieces as LogService sends them, another category between them: the
    // joined line keeps its first piece's place.
    QTest::newRow("continued line joined")
        << QList<QByteArray>{logLine("Uart READ", hex(done.left(5)) + " \\"), logLine("Controller", "STATUS_FREE"),
                             logLine("Uart READ", hex(done.mid(5)))}
        << QList<QByteArray>{"10:00:00.000 [Uart READ] " + hex(done),
                             to48 + "link CMD_PICKUP_DONE  data FF FF FF FF  crc ok", "10:00:00.000 [Controller] STATUS_FREE"}
        << QList<QByteArray>{};
    QTest::newRow("junk shown as written")
        << QList<QByteArray>{logLine("Uart READ", "ZZ 11")} << QList<QByteArray>{"shield→driver  junk ZZ 11"}
        << QList<QByteArray>{};
    // The driver at +05:45: its stamps teach the zone. The parent's line was
    // received at .155000, after the log line stamped .154 that came later.
    QTest::newRow("receive times on the driver's clock, rounded, in order")
        << QList<QByteArray>{"1796656108.155000\t> pickup", "1796656108.257080\t[Debug][20:53:28.154] [main]: test 1"}
        << QList<QByteArray>{"20:53:28.154 [main] test 1", "20:53:28.155 parent> pickup"} << QList<QByteArray>{};
    QTest::newRow("Russian glossed")
        << QList<QByteArray>{logLine("Controller", "STATUS_CALL Открыта дверь 1")}
        << QList<QByteArray>{"10:00:00.000 [Controller] STATUS_CALL Открыта дверь 1  (door 1 opened)"}
        << QList<QByteArray>{};
    QTest::newRow("--only of a category never logged")
        << QList<QByteArray>{}
        << QList<QByteArray>{"no category \"controller\": the driver logs under main, Controller, \"Uart WRITE\", "
                             "\"Uart READ\" and Console"}
        << QList<QByteArray>{"controller"};
}

void TstZmaLog::decodes()
{
    QFETCH(QList<QByteArray>, lines);
    QFETCH(QList<QByteArray>, expected);
    QFETCH(QList<QByteArray>, only);
    LogDecoder::Options options;
    options.only = only;
    LogDecoder decoder(options);
    QByteArray out = LogDecoder::refusal(only).toUtf8();
    for (const QByteArray& line : lines) {
        SavedLine saved;
        if (SavedLine::parse(line, &saved))
            decoder.decode(saved.text, saved.time, &out);
        else
            decoder.decode(line, 0, &out);
    }
    decoder.finish(&out);
    QList<QByteArray> got = out.split('\n');
    for (QByteArray& l : got)
        l = l.trimmed();
    int at = 0;
    for (const QByteArray& want : expected) {
        while (at < got.size() && got.at(at) != want)
            ++at;
        if (at == got.size())
            QFAIL(("missing or out of order: " + want + "\noutput:\n" + out).constData());
        ++at;
    }
}

void TstZmaLog::journalEntries_data()
{
    QTest::addColumn<QList<QByteArray>>("lines");
    QTest::addColumn<QList<QByteArray>>("expected"); // each entry's fields, joined by " | "

    const QByteArray done = frame(MODE_LINK, 0x48, 0x65, CMD_PICKUP_DONE, QByteArray(4, char(0xFF)));
    const QByteArray id = " | SYSLOG_IDENTIFIER=zma-driver";
    const QByteArray stamped = " | ZMA_LEVEL=Debug | ZMA_CLOCK=10:00:00.000";
    QTest::newRow("source, level, clock; English beside the Russian")
        << QList<QByteArray>{logLine("Controller", "STATUS_CALL Открыта дверь 1")}
        << QList<QByteArray>{"MESSAGE=[Controller] STATUS_CALL Открыта дверь 1  (door 1 opened) | PRIORITY=6" + id
                             + " | ZMA_SOURCE=Controller" + stamped};
    QTest::newRow("serial bytes: debug, pieces joined, frames under the line")
        << QList<QByteArray>{logLine("Uart READ", hex(done.left(5)) + " \\"), logLine("Uart READ", hex(done.mid(5)))}
        << QList<QByteArray>{"MESSAGE=[Uart READ] " + hex(done) + "\n" + QByteArray(13, ' ')
                             + "shield→driver  to 48 from 65  link CMD_PICKUP_DONE  data FF FF FF FF  crc ok | PRIORITY=7"
                             + id + " | ZMA_SOURCE=Uart READ" + stamped};
    QTest::newRow("ERROR line, ERROR and WARNING messages")
        << QList<QByteArray>{"[ERROR] [main]: gone\r\n", logLine("Controller", "ERROR CMD"),
                             logLine("main", "WARNING: audio: real-time priority 10 refused"),
                             logLine("Controller", "ERRORS")}
        << QList<QByteArray>{"MESSAGE=[main] ERROR gone | PRIORITY=3" + id + " | ZMA_SOURCE=main | ZMA_LEVEL=ERROR",
                             "MESSAGE=[Controller] ERROR CMD | PRIORITY=3" + id + " | ZMA_SOURCE=Controller" + stamped,
                             "MESSAGE=[main] WARNING: audio: real-time priority 10 refused | PRIORITY=4" + id
                                 + " | ZMA_SOURCE=main" + stamped,
                             "MESSAGE=[Controller] ERRORS | PRIORITY=6" + id + " | ZMA_SOURCE=Controller" + stamped};
    // The driver's stderr through a pipe: no source, no stamp.
    QTest::newRow("stderr lines: glossed, by their start")
        << QList<QByteArray>{"#ERROR: Ошибка ввода квартиры", "DEBUG: USART: Успешно открыт порт"}
        << QList<QByteArray>{"MESSAGE=#ERROR: Ошибка ввода квартиры  (apartment number input error) | PRIORITY=3" + id,
                             "MESSAGE=DEBUG: USART: Успешно открыт порт  (port opened successfully) | PRIORITY=6" + id};
}

void TstZmaLog::journalEntries()
{
    QFETCH(QList<QByteArray>, lines);
    QFETCH(QList<QByteArray>, expected);
    LogDecoder decoder{LogDecoder::Options()};
    QVector<LogDecoder::Entry> entries;
    for (const QByteArray& line : lines)
        decoder.decode(line, 0, &entries);
    decoder.finish(&entries);
    QList<QByteArray> got;
    for (const LogDecoder::Entry& entry : entries)
        got << entry.journalFields().join(" | ");
    QCOMPARE(got, expected);
}

// The display must show as good exactly the frames ReceiveStream takes,
// whatever the damage and the cut of the reads.
void TstZmaLog::goodFramesAreThoseTheDriverTakes()
{
    QRandomGenerator rng(2024);
    for (int round = 0; round < 200; ++round) {
        QByteArray stream;
        for (int i = 0; i < 12; ++i) {
            QByteArray f = frame(rng.bounded(2), 0x48, 0x65, uint8_t(rng.bounded(256)), QByteArray(5, char(rng.bounded(3) ? 0xFF : 0x00)));
            switch (rng.bounded(5)) {
            case 0: f[rng.bounded(1, 10)] = char(rng.bounded(256)); break; // damaged
            case 1: f = f.left(rng.bounded(1, 10)); break;                 // cut short
            case 2: f.prepend(QByteArray(rng.bounded(1, 4), char(0xFF))); break;
            default: break;
            }
            stream += f;
        }
        ReceiveStream driver;
        const QList<QByteArray> taken = driver.push(stream);
        FrameSplitter splitter;
        QVector<FrameSplitter::Piece> pieces;
        for (int pos = 0; pos < stream.size();) {
            const int n = rng.bounded(1, 24);
            splitter.push(stream.mid(pos, n), &pieces);
            pos += n;
        }
        QList<QByteArray> good;
        int shown = splitter.pending();
        for (const FrameSplitter::Piece& p : pieces) {
            shown += p.bytes.size();
            if (p.kind == FrameSplitter::Piece::Frame && CRC_Korvel2023().comparision(p.bytes))
                good.append(p.bytes);
        }
        QCOMPARE(good, taken);
        QCOMPARE(shown, stream.size());
    }
}

QTEST_GUILESS_MAIN(TstZmaLog)
#include "tst_zmalog.moc"
