// Reading the parent's lines: line splitting, command parsing, message frames.

#include "console/consolescan.h"
#include "console/linereader.h"
#include "support/refcrc.h"

#include <QtTest>

class TstConsole : public QObject
{
    Q_OBJECT

private slots:
    void commandLineParses_data();
    void commandLineParses();
    void messageTextBecomesFrame_data();
    void messageTextBecomesFrame();

    void lineEndingsAreStripped();
    void lineSplitAcrossFeedsIsJoined();
    void lastLineWithoutFeedComesFromFinish();
    void lineAtLimitIsKept();
    void overlongLineIsDroppedWholeAndCounted();
    void overlongLineInManyFeedsIsDroppedAndNextLineRead();
    void unterminatedOverlongLineIsNotKept();
    void chunkingDoesNotChangeLines_data();
    void chunkingDoesNotChangeLines();
};

void TstConsole::commandLineParses_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<int>("group");
    QTest::addColumn<int>("sub");
    QTest::addColumn<QString>("message");

    const int none = ConsoleScan::NO_SUB;
    // One number: leading digit and the rest.
    QTest::newRow("21") << "21" << 2 << 1 << QString();
    QTest::newRow("4123") << "4123" << 4 << 123 << QString();
    QTest::newRow("305") << "305" << 3 << 5 << QString();
    QTest::newRow("2") << "2" << 2 << none << QString();
    QTest::newRow("11") << "11" << 1 << 1 << QString();
    QTest::newRow("7102") << "7102" << 7 << 102 << QString();
    QTest::newRow("65557 held mod 65536") << "65557" << 2 << 1 << QString();
    // Message and pair forms.
    QTest::newRow("11 message") << "11 ff6548" << 11 << 0 << "ff6548";
    QTest::newRow("7 102") << "7 102" << 7 << 102 << QString();
    QTest::newRow("1 0") << "1 0" << 1 << 0 << QString();
    QTest::newRow("3 x") << "3 x" << 0 << 0 << QString();
    // Keywords.
    QTest::newRow("pickup") << "pickup" << 1 << 0 << QString();
    QTest::newRow("open") << "open" << 2 << 3 << QString();
    QTest::newRow("open 1") << "open 1" << 2 << 1 << QString();
    QTest::newRow("open 2") << "open 2" << 2 << 2 << QString();
    QTest::newRow("open 1 x") << "open 1 x" << 2 << 1 << QString();
    QTest::newRow("open x") << "open x" << 2 << 0 << QString();
    QTest::newRow("open 257") << "open 257" << 2 << 1 << QString();
    QTest::newRow("drop") << "drop" << 3 << 0 << QString();
    QTest::newRow("dial 5") << "dial 5" << 4 << 5 << QString();
    QTest::newRow("dial, two blanks") << "dial  5" << 4 << 0 << QString();
    QTest::newRow("dial alone") << "dial" << 4 << 0 << QString();
    QTest::newRow("phonedetect") << "phonedetect" << 5 << 0 << QString();
    QTest::newRow("phonedetect 77") << "phonedetect 77" << 5 << 77 << QString();
    QTest::newRow("dialplan") << "dialplan" << 6 << 0 << QString();
    // Nothing.
    QTest::newRow("11 ff 65") << "11 ff 65" << 0 << 0 << QString();
    QTest::newRow("empty") << "" << 0 << 0 << QString();
    QTest::newRow("Pickup") << "Pickup" << 0 << 0 << QString();
    QTest::newRow("hello") << "hello" << 0 << 0 << QString();
}

void TstConsole::commandLineParses()
{
    QFETCH(QString, line);
    QFETCH(int, group);
    QFETCH(int, sub);
    QFETCH(QString, message);
    const auto cmd = ConsoleScan::mode_read_command(line.split(QLatin1Char(' '), Qt::KeepEmptyParts));
    QCOMPARE(int(cmd.group), group);
    QCOMPARE(int(cmd.sub), sub);
    QCOMPARE(cmd.message, message);
}

void TstConsole::messageTextBecomesFrame_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("frame");
    QTest::newRow("pickup frame") << "ff6548d103ffffffff" << hexBytes("FF 65 48 D1 03 FF FF FF FF B1");
    QTest::newRow("version request") << "ff6548a0ffffffffff" << hexBytes("FF 65 48 A0 FF FF FF FF FF 99");
    QTest::newRow("one byte") << "ff" << hexBytes("FF 00");
    QByteArray odd = hexBytes("AB 0C");
    odd.append(char(refCrc8(odd, 1)));
    QTest::newRow("odd length") << "abc" << odd;
    QTest::newRow("not hex") << "zz" << hexBytes("00 00");
    QTest::newRow("empty") << "" << hexBytes("00");
}

void TstConsole::messageTextBecomesFrame()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, frame);
    QCOMPARE(ConsoleScan::message_frame(text).toHex(' '), frame.toHex(' '));
}

// ------------------------------------------------------------ LineReader

static QList<QByteArray> feed(LineReader& r, const QByteArray& bytes)
{
    return r.feed(bytes.constData(), bytes.size());
}

void TstConsole::lineEndingsAreStripped()
{
    LineReader r;
    QCOMPARE(feed(r, "a\nbb\r\n\nccc\n"), (QList<QByteArray>{"a", "bb", "", "ccc"}));
    QByteArray rest;
    QVERIFY(!r.finish(&rest));
}

void TstConsole::lineSplitAcrossFeedsIsJoined()
{
    LineReader r;
    QVERIFY(feed(r, "hel").isEmpty());
    QVERIFY(feed(r, "lo\r").isEmpty());
    QCOMPARE(feed(r, "\nwor"), QList<QByteArray>{"hello"});
    QCOMPARE(feed(r, "ld\n"), QList<QByteArray>{"world"});
}

void TstConsole::lastLineWithoutFeedComesFromFinish()
{
    LineReader r;
    QCOMPARE(feed(r, "one\ntail"), QList<QByteArray>{"one"});
    QByteArray last;
    QVERIFY(r.finish(&last));
    QCOMPARE(last, QByteArray("tail"));
}

void TstConsole::lineAtLimitIsKept()
{
    LineReader r(8);
    QCOMPARE(feed(r, "12345678\n12345678\r\n"), (QList<QByteArray>{"12345678", "12345678"}));
    QCOMPARE(r.takeDropped(), 0);
}

void TstConsole::overlongLineIsDroppedWholeAndCounted()
{
    LineReader r(8);
    QCOMPARE(feed(r, "123456789\nok\n"), QList<QByteArray>{"ok"});
    QCOMPARE(r.takeDropped(), 1);
    QCOMPARE(r.takeDropped(), 0);
}

void TstConsole::overlongLineInManyFeedsIsDroppedAndNextLineRead()
{
    LineReader r(8);
    QList<QByteArray> lines;
    for (int i = 0; i < 1000; ++i)
        lines += feed(r, "xyz");
    lines += feed(r, "\nnext\nlong-again-");
    lines += feed(r, "and-again\nlast\n");
    QCOMPARE(lines, (QList<QByteArray>{"next", "last"}));
    QCOMPARE(r.takeDropped(), 2);
}

void TstConsole::unterminatedOverlongLineIsNotKept()
{
    // Bounded memory: nothing of the dropped line survives to the end.
    LineReader r(8);
    for (int i = 0; i < 10000; ++i)
        QVERIFY(feed(r, "abcdefgh").isEmpty());
    QByteArray last;
    QVERIFY(!r.finish(&last));
    QCOMPARE(r.takeDropped(), 1);
}

void TstConsole::chunkingDoesNotChangeLines_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::newRow("short lines") << QByteArray("a\r\nbc\n\nd");
    QTest::newRow("at limit, LF") << QByteArray("12345678\nx\n");
    QTest::newRow("at limit, CR LF") << QByteArray("12345678\r\nx\n");
    QTest::newRow("over limit") << QByteArray("123456789\r\nx\n");
    QTest::newRow("at limit, CR LF, last") << QByteArray("y\n12345678\r\n");
}

// A line's fate must not depend on where the input was cut.
void TstConsole::chunkingDoesNotChangeLines()
{
    QFETCH(QByteArray, input);
    auto run = [](const QList<QByteArray>& chunks) {
        LineReader r(8);
        QList<QByteArray> lines;
        for (const auto& c : chunks)
            lines += feed(r, c);
        QByteArray last;
        if (r.finish(&last))
            lines << "<eof>" + last;
        lines << "<dropped>" + QByteArray::number(r.takeDropped());
        return lines;
    };
    const QList<QByteArray> whole = run({input});
    for (int cut = 1; cut < input.size(); ++cut) {
        const QList<QByteArray> split = run({input.left(cut), input.mid(cut)});
        QVERIFY2(split == whole, qPrintable(QString("cut at %1: got [%2], whole input gives [%3]")
                                                .arg(cut)
                                                .arg(QString(split.join('|')))
                                                .arg(QString(whole.join('|')))));
    }
    QList<QByteArray> bytes;
    for (char c : input)
        bytes << QByteArray(1, c);
    QCOMPARE(run(bytes), whole);
}

QTEST_APPLESS_MAIN(TstConsole)
#include "tst_console.moc"
