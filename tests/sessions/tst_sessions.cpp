// Replays the recorded sessions of this folder against the built driver, and
// checks that a run which differs on the line fails with its first difference.

#include "rig/childprocess.h"
#include "rig/runenv.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

class TstSessions : public QObject
{
    Q_OBJECT
private slots:
    void replay_data();
    void replay();
};

namespace {
QString sessionDir()
{
    return QStringLiteral(ZMA_SESSIONS_DIR);
}

// A copy of a session without its nth line holding `needle`: a frame the
// driver will write anyway, so the replay must find one too many.
QString withoutNth(const QString& session, const QByteArray& needle, int nth, QTemporaryDir* dir)
{
    QFile in(QDir(sessionDir()).filePath(session));
    if (!in.open(QIODevice::ReadOnly))
        return QString();
    QByteArray out;
    int seen = 0;
    while (!in.atEnd()) {
        const QByteArray line = in.readLine();
        if (line.contains(needle) && ++seen == nth)
            continue;
        out += line;
    }
    const QString path = dir->filePath(session);
    QFile file(path);
    if (seen < nth || !file.open(QIODevice::WriteOnly) || file.write(out) != out.size())
        return QString();
    return path;
}
}

void TstSessions::replay_data()
{
    QTest::addColumn<QString>("session");
    QTest::addColumn<QStringList>("extraArgs");
    QTest::addColumn<QByteArray>("removeNth"); // a recorded line to remove, "" for none
    QTest::addColumn<bool>("passes");
    QTest::addColumn<QByteArray>("difference"); // in the first-difference line

    const QStringList sessions = QDir(sessionDir()).entryList({"*.session"}, QDir::Files, QDir::Name);
    QVERIFY(sessions.size() >= 5);
    for (const QString& s : sessions)
        QTest::newRow(qPrintable(s)) << s << QStringList() << QByteArray() << true << QByteArray();

    QTest::newRow("door command left out") << "door.session" << QStringList{"--leave-out", "open 1"} << QByteArray()
                                           << false << QByteArray("CMD_OPEN_1");
    // The third write of the door frame is the second repeat.
    QTest::newRow("one repeat more than recorded")
        << "silent.session" << QStringList() << QByteArray("[Uart WRITE]: FF 65 48 D1 08") << false
        << QByteArray("CMD_OPEN_1");
}

void TstSessions::replay()
{
    QFETCH(QString, session);
    QFETCH(QStringList, extraArgs);
    QFETCH(QByteArray, removeNth);
    QFETCH(bool, passes);
    QFETCH(QByteArray, difference);

    QTemporaryDir dir;
    QString path = QDir(sessionDir()).filePath(session);
    if (!removeNth.isEmpty()) {
        path = withoutNth(session, removeNth, 3, &dir);
        QVERIFY2(!path.isEmpty(), "the session has no such line to remove");
    }

    rig::ChildProcess runner;
    runner.setProcessChannelMode(QProcess::MergedChannels);
    QStringList args{"--tolerance", QString::number(rig::scaled(250))};
    // The runner starts the simulator and the driver: behind the same
    // emulator, given as the command line it reads the same way.
    if (!rig::emulator().isEmpty())
        args << "--emulator" << qEnvironmentVariable("ZMA_TEST_EMULATOR");
    runner.start(QStringLiteral(ZMA_REPLAY_SESSION_PATH), args + extraArgs + QStringList{path}, rig::emulator());
    QVERIFY(runner.waitForStarted(5000));
    QVERIFY(runner.waitForFinished(150000));
    const QByteArray output = runner.readAll();
    const bool passed = runner.exitStatus() == QProcess::NormalExit && runner.exitCode() == 0;
    QVERIFY2(passed == passes, output.constData());
    QVERIFY2(output.contains(passes ? "replay passed" : "replay FAILED"), output.constData());
    if (!passes) {
        const int at = output.indexOf("replay first difference: ");
        QVERIFY2(at >= 0, output.constData());
        const QByteArray line = output.mid(at, output.indexOf('\n', at) - at);
        QVERIFY2(line.contains(difference), line.constData());
    }
}

QTEST_GUILESS_MAIN(TstSessions)
#include "tst_sessions.moc"
