// What the settings print for the parent: option parsing and the identity block.

#include "console/console.h"
#include "zma/settings.h"
#include "zma_version.h"

#include <QTemporaryFile>
#include <QtTest>
#include <cstdio>
#include <functional>
#include <unistd.h>

class TstSettings : public QObject
{
    Q_OBJECT

private slots:
    void identityBlock_data();
    void identityBlock();
    void optionsSelectIntercom_data();
    void optionsSelectIntercom();
};

// Standard output written by f, caught at the file descriptor.
static QByteArray captureStdout(const std::function<void()>& f)
{
    QTemporaryFile file;
    if (!file.open())
        return "<no temp file>";
    Console::flush(2000);
    fflush(stdout);
    const int saved = dup(STDOUT_FILENO);
    dup2(file.handle(), STDOUT_FILENO);
    f();
    Console::flush(2000);
    fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    close(saved);
    file.seek(0);
    return file.readAll();
}

static QByteArray linesOf(const QStringList& lines)
{
    return (lines.join('\n') + '\n').toUtf8();
}

void TstSettings::identityBlock_data()
{
    QTest::addColumn<int>("beta");
    QTest::addColumn<QStringList>("lines");
    const QStringList head = {"#ZMA_Driver_KorvelTesk_v" ZMA_VERSION, "ZMA_STM_Driver 2.17", "",
                              "Intercom: 10", "Program_STM: 529"};
    const QStringList tail = {"Shield: 2", "Revision: 5", "ID: 1abc0de", "", "", "shield_ready", ""};
    QTest::newRow("release") << 0 << head + tail;
    QTest::newRow("beta") << 3 << head + QStringList{"Beta: 3", "#WARNING: VORK not for release!"} + tail;
}

void TstSettings::identityBlock()
{
    QFETCH(int, beta);
    QFETCH(QStringList, lines);
    Settings s;
    s.setIntercom = 10;
    s.firmware = 529;
    s.beta = static_cast<uint16_t>(beta);
    s.version = 2;
    s.revision = 5;
    s.id[0] = 1;
    s.id[1] = 0xAB;
    s.id[2] = 0xC0DE;
    QCOMPARE(captureStdout([&] { s.send_info_to_console(); }), linesOf(lines));
}

void TstSettings::optionsSelectIntercom_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<int>("intercom");
    QTest::addColumn<int>("adrGate");

    const QString warn = "#WARNING: No intercom select";
    auto supported = [](int n) { return QString("#Intercom %1 supported indexes ").arg(n); };
    auto unsupported = [](int n) { return QString("#Intercom %1 not supported indexes ").arg(n); };

    QTest::newRow("none") << QStringList{} << QStringList{warn, unsupported(10)} << 10 << 0;
    QTest::newRow("-ic 102") << QStringList{"-ic", "102"} << QStringList{supported(102)} << 102 << 1;
    QTest::newRow("-ic 121") << QStringList{"-ic", "121"} << QStringList{unsupported(121)} << 121 << 0;
    QTest::newRow("-ic last") << QStringList{"-ic"} << QStringList{warn, unsupported(10)} << 10 << 0;
    QTest::newRow("-ic x") << QStringList{"-ic", "x"} << QStringList{warn, unsupported(10)} << 10 << 0;
    QTest::newRow("-ic 358 wraps") << QStringList{"-ic", "358"} << QStringList{supported(102)} << 102 << 1;
    QTest::newRow("-v -ic 102") << QStringList{"-v", "-ic", "102"}
                                << QStringList{"ZMA_STM_Driver: v2.17", "Beta: 2", "#Not for release!: ",
                                               supported(102)}
                                << 102 << 1;
}

void TstSettings::optionsSelectIntercom()
{
    QFETCH(QStringList, args);
    QFETCH(QStringList, lines);
    QFETCH(int, intercom);
    QFETCH(int, adrGate);

    QList<QByteArray> storage{"zma-driver"};
    for (const auto& a : args)
        storage << a.toLocal8Bit();
    std::vector<char*> argv;
    for (auto& a : storage)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    Settings s;
    s.flagAdrGate = 7; // must be set either way
    QCOMPARE(captureStdout([&] { s.parser_param(int(storage.size()), argv.data()); }), linesOf(lines));
    QCOMPARE(int(s.setIntercom), intercom);
    QCOMPARE(int(s.flagAdrGate), adrGate);
}

QTEST_APPLESS_MAIN(TstSettings)
#include "tst_settings.moc"
