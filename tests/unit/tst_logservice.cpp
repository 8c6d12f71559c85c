// The UDP log: line format, source filter, one datagram per line, in order.

#include "log/logservice.h"
#include "rig/logcollector.h"
#include "rig/runenv.h"

#include <QRegularExpression>
#include <QtTest>
#include <climits>

using rig::LogCollector;
using rig::waitUntil;

class TstLogService : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void firstDatagramIsStartupLine();
    void onlySwitchedOnSourcesAreSent_data();
    void onlySwitchedOnSourcesAreSent();
    void linesLoggedTogetherArriveInOrder();
    void messageWithNulBytesArrivesWhole();
    void longFormattedMessageIsCut();
    void errorLineHasNoTimeAndNoLineEnd();
    void overlongLineIsSplitWithContinuationMarks_data();
    void overlongLineIsSplitWithContinuationMarks();
    void fullMailboxDropsOldestAndSaysHowMany();

private:
    // Runs log calls, then a marker line; returns the datagrams before it.
    QList<QByteArray> sentBy(const std::function<void()>& logCalls);
    static QByteArray debugBody(const QByteArray& datagram, const QByteArray& source);

    LogCollector* collector = nullptr;
    int markers = 0;
};

void TstLogService::initTestCase()
{
    collector = new LogCollector();
    QVERIFY2(collector->isBound(), "UDP 20004 is taken");
    logService = new LogService(1);
}

QList<QByteArray> TstLogService::sentBy(const std::function<void()>& logCalls)
{
    collector->pump();
    const int from = collector->datagrams.size();
    logCalls();
    const QByteArray marker = "marker " + QByteArray::number(++markers);
    logService->debug("main", marker);
    QList<QByteArray> out;
    const bool seen = waitUntil([&] {
        collector->pump();
        for (int i = from; i < collector->datagrams.size(); ++i) {
            if (collector->datagrams[i].bytes.contains(marker)) {
                out.clear();
                for (int j = from; j < i; ++j)
                    out << collector->datagrams[j].bytes;
                return true;
            }
        }
        return false;
    }, 5000);
    if (!seen)
        qWarning("marker line never arrived");
    return seen ? out : QList<QByteArray>{"<marker missing>"};
}

// The message of a well-formed debug line, or a null array.
QByteArray TstLogService::debugBody(const QByteArray& datagram, const QByteArray& source)
{
    static const QRegularExpression head(QStringLiteral("^\\[Debug\\]\\[\\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\] \\[([^\\]]*)\\]: "));
    const auto m = head.match(QString::fromLatin1(datagram));
    if (!m.hasMatch() || m.captured(1).toLatin1() != source || !datagram.endsWith("\r\n"))
        return QByteArray();
    const int start = m.capturedLength(0);
    return datagram.mid(start, datagram.size() - start - 2);
}

void TstLogService::firstDatagramIsStartupLine()
{
    QVERIFY(collector->waitCount(1, 5000));
    const QByteArray first = collector->datagrams.first().bytes;
    QVERIFY2(QRegularExpression(QStringLiteral("^\\[Debug\\]\\[\\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\] \\[main\\]: test 1\r\n$"))
                 .match(QString::fromLatin1(first)).hasMatch(),
             first.constData());
}

void TstLogService::onlySwitchedOnSourcesAreSent_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<bool>("sent");
    QTest::newRow("main") << "main" << true;
    QTest::newRow("Controller") << "Controller" << true;
    QTest::newRow("Uart WRITE") << "Uart WRITE" << true;
    QTest::newRow("Uart READ") << "Uart READ" << true;
    QTest::newRow("Console") << "Console" << true;
    QTest::newRow("controller") << "controller" << false;
    QTest::newRow("Console with blank") << "Console " << false;
    QTest::newRow("Uart") << "Uart" << false;
    QTest::newRow("empty") << "" << false;
}

void TstLogService::onlySwitchedOnSourcesAreSent()
{
    QFETCH(QString, source);
    QFETCH(bool, sent);
    const QList<QByteArray> got = sentBy([&] {
        logService->debug(source, QByteArray("plain"));
        logService->debug(source, "fmt %d", 42);
        logService->error(source, "bad");
    });
    if (!sent) {
        QCOMPARE(got, QList<QByteArray>{});
        return;
    }
    QCOMPARE(got.size(), 3);
    QCOMPARE(debugBody(got[0], source.toUtf8()), QByteArray("plain"));
    QCOMPARE(debugBody(got[1], source.toUtf8()), QByteArray("fmt 42"));
    QCOMPARE(got[2], "[ERROR] [" + source.toUtf8() + "]: bad");
}

void TstLogService::linesLoggedTogetherArriveInOrder()
{
    const QList<QByteArray> got = sentBy([] {
        logService->debug("Controller", QByteArray("first"));
        logService->debug("Uart READ", QByteArray("second"));
        logService->debug("Controller", QByteArray("third"));
    });
    QCOMPARE(got.size(), 3);
    QCOMPARE(debugBody(got[0], "Controller"), QByteArray("first"));
    QCOMPARE(debugBody(got[1], "Uart READ"), QByteArray("second"));
    QCOMPARE(debugBody(got[2], "Controller"), QByteArray("third"));
}

void TstLogService::messageWithNulBytesArrivesWhole()
{
    const QByteArray msg("a\0b\0\0c", 6);
    const QList<QByteArray> got = sentBy([&] { logService->debug("main", msg); });
    QCOMPARE(got.size(), 1);
    QCOMPARE(debugBody(got[0], "main"), msg);
}

void TstLogService::longFormattedMessageIsCut()
{
    const QByteArray longText(1500, 'q');
    const QList<QByteArray> got = sentBy([&] { logService->debug("main", "%s!", longText.constData()); });
    QCOMPARE(got.size(), 1);
    QCOMPARE(debugBody(got[0], "main"), QByteArray(1023, 'q'));
}

void TstLogService::errorLineHasNoTimeAndNoLineEnd()
{
    const QList<QByteArray> got = sentBy([] { logService->error("Controller", "msg"); });
    QCOMPARE(got, QList<QByteArray>{"[ERROR] [Controller]: msg"});
}

void TstLogService::overlongLineIsSplitWithContinuationMarks_data()
{
    QTest::addColumn<int>("bytes");
    QTest::addColumn<int>("pieces");
    QTest::newRow("12 KB in two") << 4000 << 2; // as a long serial read logs
    QTest::newRow("21 KB in three") << 7000 << 3; // the later pieces start at their own offsets
}

void TstLogService::overlongLineIsSplitWithContinuationMarks()
{
    QFETCH(int, bytes);
    QFETCH(int, pieces);
    QByteArray raw;
    for (int i = 0; i < bytes; ++i)
        raw += char(i * 7);
    const QByteArray hex = raw.toHex(' ').toUpper();
    const QList<QByteArray> got = sentBy([&] { logService->debug("Uart READ", hex); });
    QCOMPARE(got.size(), pieces);
    QByteArray joined;
    for (int i = 0; i < got.size(); ++i) {
        QVERIFY(got[i].size() <= LogService::kMaxDatagram);
        QByteArray body = debugBody(got[i], "Uart READ");
        QVERIFY2(!body.isNull(), got[i].left(80).constData());
        const bool last = i == got.size() - 1;
        QCOMPARE(body.endsWith(LogService::kContinuationMark), !last);
        if (!last)
            body.chop(1);
        joined += body;
    }
    QCOMPARE(joined, hex);
}

void TstLogService::fullMailboxDropsOldestAndSaysHowMany()
{
    collector->pump();
    const int from = collector->datagrams.size();
    // Nothing drains while this runs: the timer needs the event loop.
    for (int i = 0; i < LogService::kMaxLines + 100; ++i)
        logService->debug("Controller", "line %d", i);
    int lowest = INT_MAX;
    int scanned = from;
    bool lost = false;
    QVERIFY(waitUntil([&] {
        collector->pump();
        for (; scanned < collector->datagrams.size(); ++scanned) {
            const QByteArray body = debugBody(collector->datagrams[scanned].bytes, "Controller");
            if (body.startsWith("line "))
                lowest = qMin(lowest, body.mid(5).toInt());
            lost = lost || debugBody(collector->datagrams[scanned].bytes, "main") == "Log lines lost: 100";
        }
        return lost;
    }, 10000));
    // Lines 0..99 went; the rest may lose a datagram or two to the socket.
    QVERIFY2(lowest >= 100 && lowest < 1000, qPrintable(QString("lowest line seen: %1").arg(lowest)));
}

QTEST_GUILESS_MAIN(TstLogService)
#include "tst_logservice.moc"
