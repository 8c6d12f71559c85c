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

// A copy of a session, changed. "live": only the driver's log lines, as
// zma-log --save keeps them from a board; "plain": those without their
// receive times, as socat shows them; anything else: a recorded line whose
// third occurrence goes (a frame the driver will write anyway, so the
// replay must find one too many).
QString edited(const QString& session, const QByteArray& edit, QTemporaryDir* dir)
{
    QFile in(QDir(sessionDir()).filePath(session));
    if (!in.open(QIODevice::ReadOnly))
        return QString();
    const bool logOnly = edit == "live" || edit == "plain";
    QByteArray out;
    int seen = 0;
    while (!in.atEnd()) {
        const QByteArray line = in.readLine();
        const int tab = line.indexOf('\t');
        if (logOnly) {
            if (tab > 0 && line.mid(tab + 1).startsWith('['))
                out += edit == "live" ? line : line.mid(tab + 1);
        } else if (!line.contains(edit) || ++seen != 3) {
            out += line;
        }
    }
    const QString path = dir->filePath(session);
    QFile file(path);
    if ((logOnly ? out.isEmpty() : seen < 3) || !file.open(QIODevice::WriteOnly) || file.write(out) != out.size())
        return QString();
    return path;
}
}

void TstSessions::replay_data()
{
    QTest::addColumn<QString>("session");
    QTest::addColumn<QStringList>("extraArgs");
    QTest::addColumn<QByteArray>("edit"); // as edited() takes it, "" for none
    QTest::addColumn<int>("verdict");     // the exit status: 0 passed, 1 failed, 2 refused
    QTest::addColumn<QByteArray>("difference"); // in the first-difference line, or the refusal

    const QStringList sessions = QDir(sessionDir()).entryList({"*.session"}, QDir::Files, QDir::Name);
    QVERIFY(sessions.size() >= 5);
    for (const QString& s : sessions)
        QTest::newRow(qPrintable(s)) << s << QStringList() << QByteArray() << 0 << QByteArray();

    QTest::newRow("door command left out") << "door.session" << QStringList{"--leave-out", "open 1"} << QByteArray()
                                           << 1 << QByteArray("CMD_OPEN_1");
    // The third write of the door frame is the second repeat.
    QTest::newRow("one repeat more than recorded")
        << "silent.session" << QStringList() << QByteArray("[Uart WRITE]: FF 65 48 D1 08") << 1
        << QByteArray("CMD_OPEN_1");
    QTest::newRow("left out what the parent never gave") << "door.session" << QStringList{"--leave-out", "open 7"}
                                                         << QByteArray() << 2 << QByteArray("no such line");
    QTest::newRow("log saved live") << "door.session" << QStringList() << QByteArray("live") << 2
                                    << QByteArray("saved by zma-log --save from a live board");
    QTest::newRow("plain log") << "door.session" << QStringList() << QByteArray("plain") << 2
                               << QByteArray("saved by zma-log --save");
}

void TstSessions::replay()
{
    QFETCH(QString, session);
    QFETCH(QStringList, extraArgs);
    QFETCH(QByteArray, edit);
    QFETCH(int, verdict);
    QFETCH(QByteArray, difference);

    QTemporaryDir dir;
    QString path = QDir(sessionDir()).filePath(session);
    if (!edit.isEmpty()) {
        path = edited(session, edit, &dir);
        QVERIFY2(!path.isEmpty(), "the session cannot be changed so");
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
    QVERIFY2(runner.exitStatus() == QProcess::NormalExit && runner.exitCode() == verdict, output.constData());
    if (verdict == 2) {
        QVERIFY2(output.contains(difference), output.constData());
        return;
    }
    QVERIFY2(output.contains(verdict == 0 ? "replay passed" : "replay FAILED"), output.constData());
    if (verdict == 1) {
        const int at = output.indexOf("replay first difference: ");
        QVERIFY2(at >= 0, output.constData());
        const QByteArray line = output.mid(at, output.indexOf('\n', at) - at);
        QVERIFY2(line.contains(difference), line.constData());
    }
}

QTEST_GUILESS_MAIN(TstSessions)
#include "tst_sessions.moc"
