// Reading the parent's lines: line splitting, command parsing, message frames.

#include "console/consolescan.h"
#include "log/diagnostics.h"
#include "console/linereader.h"
#include "utils/linewriter.h"
#include "rig/heldpipe.h"
#include "tests/support/refcrc.h"

#include <QtTest>
#include <atomic>

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

    void repeatedDiagnosticIsCountedOncePerSecond();
    void stalledReaderBlocksOnlyTheWriterThread();
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
    // Digits counted by tens: a count by nines gets these wrong.
    QTest::newRow("7290") << "7290" << 7 << 290 << QString();
    QTest::newRow("7999") << "7999" << 7 << 999 << QString();
    QTest::newRow("95") << "95" << 9 << 5 << QString();
    QTest::newRow("65535 largest number") << "65535" << 6 << 5535 << QString();
    QTest::newRow("65557 is no number") << "65557" << 0 << 0 << QString();
    QTest::newRow("65538 is no number") << "65538" << 0 << 0 << QString();
    // Message and pair forms.
    QTest::newRow("11 message") << "11 ff6548" << 11 << 0 << "ff6548";
    QTest::newRow("7 102") << "7 102" << 7 << 102 << QString();
    QTest::newRow("1 0") << "1 0" << 1 << 0 << QString();
    QTest::newRow("3 x") << "3 x" << 0 << 0 << QString();
    QTest::newRow("65537 1") << "65537 1" << 0 << 0 << QString();
    QTest::newRow("2 65536") << "2 65536" << 0 << 0 << QString();
    QTest::newRow("2 65535 opens no door") << "2 65535" << 0 << 0 << QString();
    // Kept whole: the dispatcher must not take 258 for 2.
    QTest::newRow("258 1") << "258 1" << 258 << 1 << QString();
    QTest::newRow("7 300") << "7 300" << 7 << 300 << QString();
    // Keywords.
    QTest::newRow("pickup") << "pickup" << 1 << 0 << QString();
    QTest::newRow("open") << "open" << 2 << 3 << QString();
    QTest::newRow("open 1") << "open 1" << 2 << 1 << QString();
    QTest::newRow("open 2") << "open 2" << 2 << 2 << QString();
    QTest::newRow("open 1 x") << "open 1 x" << 2 << 1 << QString();
    QTest::newRow("open x") << "open x" << 2 << 0 << QString();
    QTest::newRow("open 257") << "open 257" << 2 << 257 << QString();
    QTest::newRow("open 258") << "open 258" << 2 << 258 << QString();
    QTest::newRow("open 0") << "open 0" << 2 << 0 << QString();
    QTest::newRow("open 65535") << "open 65535" << 2 << 0 << QString();
    QTest::newRow("open 65537") << "open 65537" << 2 << 0 << QString();
    QTest::newRow("open 99999999999") << "open 99999999999" << 2 << 0 << QString();
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

void TstConsole::repeatedDiagnosticIsCountedOncePerSecond()
{
    using Clock = Diagnostics::Limiter::Clock;
    using std::chrono::milliseconds;
    const Clock::time_point t0 = Clock::now();
    auto at = [t0](int ms) { return t0 + milliseconds(ms); };
    auto lines = [](std::deque<QByteArray> d) { return QList<QByteArray>(d.begin(), d.end()); };
    Diagnostics::Limiter limiter;

    QVERIFY(limiter.admit("a", at(0)));
    QVERIFY(!limiter.admit("a", at(100)));
    QVERIFY(limiter.admit("b", at(200))); // another text has its own second
    QVERIFY(!limiter.admit("a", at(900), 3));
    QCOMPARE(lines(limiter.expire(at(999))), QList<QByteArray>());
    QCOMPARE(lines(limiter.expire(at(1000))), QList<QByteArray>{"a (repeated 4 times)\n"});
    // The count opened a new second: a repeat in it is counted again.
    QVERIFY(!limiter.admit("a", at(1500)));
    bool open = false;
    QCOMPARE(lines(limiter.expire(at(2000), &open)), QList<QByteArray>{"a (repeated 1 times)\n"});
    QVERIFY(open); // its writer must come back for the new second's count
    // A quiet second ends the window; the text then goes out as it is, and
    // nothing is left for the writer to wake for.
    QCOMPARE(lines(limiter.expire(at(3000), &open)), QList<QByteArray>());
    QVERIFY(!open);
    QVERIFY(limiter.admit("a", at(3100)));

    // A line with a log source: the log gets the same count line.
    QVERIFY(limiter.admit("c", at(3200), 1, "main"));
    QVERIFY(!limiter.admit("c", at(3300), 1, "main"));
    std::deque<Diagnostics::Limiter::LogLine> logged;
    QCOMPARE(lines(limiter.expire(at(4200), &open, &logged)), QList<QByteArray>{"c (repeated 1 times)\n"});
    QCOMPARE(logged.size(), size_t(1));
    QCOMPARE(logged.front().first, "main");
    QCOMPARE(logged.front().second, QByteArray("c (repeated 1 times)"));
}

void TstConsole::stalledReaderBlocksOnlyTheWriterThread()
{
    // Never deleted, like the writer that keeps writing to it.
    auto* pipe = new rig::HeldPipe();
    const QByteArray filler = pipe->fill();

    std::atomic<long long> lost{0};
    LineWriter* writer = new LineWriter(pipe->writeFd(), 4, {}, [&lost](long long n) { lost += n; });
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < 10; ++i)
        writer->write("line " + QByteArray::number(i) + "\n");
    QVERIFY(t.elapsed() < 100);
    QVERIFY(!writer->flush(100));

    // The reader comes back: whole lines in order, the newest included,
    // and every line either written or counted as lost.
    QByteArray got;
    QVERIFY(QTest::qWaitFor([&] {
        got += pipe->readAvailable();
        return got.endsWith("line 9\n");
    }, 5000));
    QVERIFY(writer->flush(1000));
    QCOMPARE(got.left(filler.size()), filler);
    const QByteArray after = got.mid(filler.size());
    const QList<QByteArray> written = after.split('\n').mid(0, after.count('\n'));
    QCOMPARE(written.size() + lost.load(), 10LL);
    QCOMPARE(written.mid(written.size() - 4), (QList<QByteArray>{"line 6", "line 7", "line 8", "line 9"}));
    // The writer lives on, as in the driver; its descriptors stay open.
}

QTEST_APPLESS_MAIN(TstConsole)
#include "tst_console.moc"
