// zma-log: reads the driver's UDP log (or a saved log) and prints it with the
// serial frames decoded.

#include "logdecoder.h"
#include "loginput.h"
#include "logoutput.h"
#include "utils/signalwatcher.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTimer>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>
#include <vector>
// Else every entry names this file and line as where it was logged.
#define SD_JOURNAL_SUPPRESS_LOCATION
#include <systemd/sd-journal.h>

namespace {
// How long a line may wait in a buffer: what a crash can lose of the save
// file, and how late a line shows when stdout is not a terminal.
constexpr int kFlushIntervalMs = 100;
constexpr int kReleaseIntervalMs = 250;
// libsystemd's socket. Without it sd_journal_sendv drops the entry and still
// says it was sent, so its absence is seen here.
const char* const kJournalSocket = "/run/systemd/journal/socket";

// --journal: each entry to the system journal, in order, emptying the vector.
// A journal that does not take them (no journald running) is said once on
// stderr, and again when it takes them again; the lines it refused are
// counted, and zma-log goes on.
struct Journal {
    qint64 taken = 0;
    qint64 lost = 0;
    bool failing = false;
};

void sendToJournal(QVector<LogDecoder::Entry>* entries, Journal* journal)
{
    if (entries->isEmpty())
        return;
    struct stat st = {};
    const int missing = ::stat(kJournalSocket, &st) == 0 && S_ISSOCK(st.st_mode) ? 0 : ENOENT;
    std::vector<iovec> iov;
    for (const LogDecoder::Entry& entry : *entries) {
        const QList<QByteArray> fields = entry.journalFields();
        iov.clear();
        for (const QByteArray& f : fields)
            iov.push_back({const_cast<char*>(f.constData()), static_cast<size_t>(f.size())});
        const int rc = missing ? -missing : sd_journal_sendv(iov.data(), static_cast<int>(iov.size()));
        if (rc >= 0 && journal->failing)
            fprintf(stderr, "zma-log: the journal takes lines again\n");
        else if (rc < 0 && !journal->failing)
            fprintf(stderr,
                    "zma-log: the journal does not take the lines (%s%s): is systemd-journald running? "
                    "zma-log goes on trying; the lines it refuses are lost\n",
                    missing ? "no " : "", missing ? kJournalSocket : strerror(-rc));
        ++(rc >= 0 ? journal->taken : journal->lost);
        journal->failing = rc < 0;
    }
    entries->clear();
}

// Says what went wrong; the exit status for it.
int complain(const QString& text, int status = 2)
{
    fprintf(stderr, "zma-log: %s\n", text.toLocal8Bit().constData());
    return status;
}
}

int main(int argc, char* argv[])
{
    SignalWatcher::install();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("zma-log");

    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Prints zma-driver's log with the serial frames decoded: under each Uart WRITE\n"
        "or Uart READ line, one line per frame (direction, receiver and sender address,\n"
        "link or cmd mode, command, data, apartment of a dial, checksum), junk bytes,\n"
        "and how many bytes wait for the rest of a frame split across reads.\n"
        "By default it listens to the driver's log on UDP 127.0.0.1:20004.");
    parser.addHelpOption();
    const QCommandLineOption fileOpt("file", "Read a saved log or a plain log from FILE.", "FILE");
    const QCommandLineOption stdinOpt("stdin", "Read a saved log or a plain log from stdin (also: -).");
    const QCommandLineOption portOpt("port", "Listen on UDP 127.0.0.1:N (default 20004).", "N", "20004");
    const QCommandLineOption rawOpt("raw", "Print the lines as they come, nothing decoded or joined.");
    const QCommandLineOption saveOpt("save", "Also append every line read to FILE, with its receive time (saved-log format).", "FILE");
    const QCommandLineOption onlyOpt("only",
        "Show only lines of CATEGORY (repeatable): main, Controller, \"Uart WRITE\", \"Uart READ\", Console. "
        "Other lines (a session's parent lines) are then left out.", "CATEGORY");
    const QCommandLineOption noColorOpt("no-color", "No ANSI colours (the default when stdout is not a terminal).");
    const QCommandLineOption journalOpt("journal",
        "Send the lines to the system journal instead of stdout, one entry a line, as zma-driver "
        "(journalctl -t zma-driver); see zma-log(1) for the fields.");
    parser.addOptions({fileOpt, stdinOpt, portOpt, rawOpt, saveOpt, onlyOpt, noColorOpt, journalOpt});
    parser.addPositionalArgument("-", "Read stdin, as --stdin.", "[-]");
    parser.process(app);

    const QStringList rest = parser.positionalArguments();
    const bool fromStdin = parser.isSet(stdinOpt) || rest == QStringList{"-"};
    if ((!rest.isEmpty() && rest != QStringList{"-"}) || (fromStdin && parser.isSet(fileOpt))
        || ((fromStdin || parser.isSet(fileOpt)) && parser.isSet(portOpt)))
        return complain("one input: UDP (--port), --file FILE or stdin; see --help");
    const bool journal = parser.isSet(journalOpt);
    if (journal && parser.isSet(rawOpt))
        return complain("--journal takes the decoded lines, not --raw");
    bool portOk = false;
    const uint port = parser.value(portOpt).toUInt(&portOk);
    if (!portOk || port == 0 || port > 65535)
        return complain("--port needs a number from 1 to 65535");

    LogDecoder::Options options;
    options.raw = parser.isSet(rawOpt);
    options.colour = !journal && isatty(STDOUT_FILENO) && !parser.isSet(noColorOpt) && !getenv("NO_COLOR");
    for (const QString& c : parser.values(onlyOpt))
        options.only.append(c.toUtf8());
    const QString refused = LogDecoder::refusal(options.only);
    if (!refused.isEmpty())
        return complain("--only: " + refused);

    LogOutput output;
    QString error;
    if (parser.isSet(saveOpt) && !output.openSave(parser.value(saveOpt), &error))
        return complain(error, 1);
    LogDecoder decoder(options);
    Journal journalCounts;
    QVector<LogDecoder::Entry> entries;
    // Runs a step of the decoder into the journal or into what is printed.
    auto decoded = [&](const std::function<void(LogDecoder::Out)>& step) {
        if (journal) {
            step(&entries);
            sendToJournal(&entries, &journalCounts);
        } else {
            step(output.printBuffer());
            output.written();
        }
    };
    // Lines of a file keep their saved time; the rest are stamped on arrival.
    LogInput input([&](double time, const QByteArray& text) {
        output.save(time > 0 ? time : LogInput::now(), text);
        decoded([&](LogDecoder::Out out) { decoder.decode(text, time, out); });
    });

    const bool udp = !fromStdin && !parser.isSet(fileOpt);
    const bool opened = udp ? input.listenUdp(static_cast<quint16>(port), &error)
                            : input.openStream(fromStdin ? QStringLiteral("-") : parser.value(fileOpt), &error);
    if (!opened)
        return complain(error, 1);
    if (udp)
        fprintf(stderr, "zma-log: listening on 127.0.0.1:%u (receive buffer %d KiB)\n", port,
                input.receiveBufferBytes() / 1024);

    // A terminal shows each wake-up's lines at once; a pipe or file gets them
    // in large writes, at the latest kFlushIntervalMs after they came.
    const bool interactive = isatty(STDOUT_FILENO);
    QTimer flushTimer;
    flushTimer.setSingleShot(true);
    flushTimer.setInterval(kFlushIntervalMs);
    auto flush = [&] {
        output.flush();
        if (output.stdoutGone())
            QCoreApplication::quit();
    };
    QObject::connect(&flushTimer, &QTimer::timeout, flush);
    auto shown = [&] {
        if (output.stdoutGone())
            QCoreApplication::quit();
        else if (interactive)
            flush();
        else if (!flushTimer.isActive() && output.unflushed())
            flushTimer.start();
    };
    QObject::connect(&input, &LogInput::batchDone, shown);
    QObject::connect(&input, &LogInput::finished, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    // A line known only by its receive time waits for the stamps that may
    // still come before it; from the network or a pipe, nothing may come
    // after it for a while, so it is shown once no log line can be that late.
    QTimer releaseTimer;
    releaseTimer.setInterval(kReleaseIntervalMs);
    QObject::connect(&releaseTimer, &QTimer::timeout, [&] {
        decoded([&](LogDecoder::Out out) { decoder.release(LogInput::now(), out); });
        if (!journal)
            shown();
    });
    if (!input.readsRegularFile())
        releaseTimer.start();

    SignalWatcher* watcher = SignalWatcher::start();
    app.exec();
    delete watcher;

    decoded([&](LogDecoder::Out out) { decoder.finish(out); });
    output.flush();
    if (!output.saveError().isEmpty())
        complain(QStringLiteral("writing the save file failed: %1").arg(output.saveError()));
    if (udp) {
        fprintf(stderr, "zma-log: %lld lines received", static_cast<long long>(input.linesRead()));
        if (input.kernelDrops() >= 0)
            fprintf(stderr, ", %lld dropped by the kernel (receive buffer full)",
                    static_cast<long long>(input.kernelDrops()));
        fprintf(stderr, "\n");
    }
    if (journal)
        fprintf(stderr, "zma-log: %lld lines to the journal, %lld refused\n", static_cast<long long>(journalCounts.taken),
                static_cast<long long>(journalCounts.lost));
    return output.saveError().isEmpty() ? 0 : 1;
}
