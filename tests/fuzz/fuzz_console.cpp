// The parent's lines through the line reader, the command parser, the
// dial-plan list protocol and the dispatcher, with the model behind them.
//
// Input: one config byte (bits 0-1 line state, bit 2 empty the send queues
// after each line, as a fast controller would), then the bytes of stdin.
// Checked beyond "no crash": only a door command queues a door frame, and
// for its own door; the dial plan changes by one listed number per line or
// is cleared, and holds apartments only; send queues stay bounded; a message
// frame ends in the checksum of its bytes.

#include "fuzzprocess.h"
#include "console/console.h"
#include "console/consolescan.h"
#include "console/linereader.h"
#include "log/logservice.h"
#include "tests/support/refcrc.h"
#include "zma/modelkorvel2023.h"
#include "zma/settings.h"

#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace {

void require(bool ok, const char* what, const QString& line)
{
    if (ok)
        return;
    fprintf(stderr, "fuzz_console: property failed: %s; line \"%s\"\n", what, qPrintable(line));
    abort();
}

bool number(const QStringList& tokens, int i, uint* value)
{
    bool ok = false;
    *value = tokens.at(i).toUInt(&ok, 10);
    return ok;
}

// The door a command line opens, from the documented forms: "2", "21",
// "open 1" (words after it ignored), "2 1" for door 1; "22", "open 2",
// "2 2" for door 2. A lone number is its first digit and the number the
// rest makes, so "201" is "2 1". Zero: no door.
int documentedDoor(const QString& line)
{
    const QStringList tokens = line.split(QLatin1Char(' '), Qt::KeepEmptyParts);
    uint a = 0, b = 0;
    if (tokens.size() == 1 && number(tokens, 0, &a)) {
        const QString digits = QString::number(a);
        if (digits == QLatin1String("2"))
            return 1;
        b = digits.mid(1).toUInt();
        return (digits.startsWith(QLatin1Char('2')) && (b == 1 || b == 2)) ? int(b) : 0;
    }
    if (tokens.size() == 2 && number(tokens, 0, &a) && number(tokens, 1, &b))
        return (a == 2 && (b == 1 || b == 2)) ? int(b) : 0;
    if (tokens.size() >= 2 && tokens.at(0) == QLatin1String("open") && number(tokens, 1, &b))
        return (b == 1 || b == 2) ? int(b) : 0;
    return 0;
}

int doorFrames(const QList<CommandTESK>& queue, int door)
{
    int n = 0;
    for (const CommandTESK& c : queue) {
        if (door == 1 ? (c.cmd == CMD_OPEN_1 || c.cmd == CMD_OPEN_1_FREE) : (c.cmd == CMD_OPEN_2 || c.cmd == CMD_OPEN_2_FREE))
            ++n;
    }
    return n;
}

// A list changes by one number given alone on the line, or is cleared.
void checkListChange(const QSet<unsigned>& before, const QSet<unsigned>& after, const QString& line)
{
    for (unsigned n : after)
        require(n <= ConsoleScan::MAX_APARTMENT, "dial plan holds a number that is no apartment", line);
    if (after == before || after.isEmpty())
        return;
    require(after.size() == before.size() + 1 && after.contains(before), "dial plan changed other than by one number", line);
    const QStringList tokens = line.split(QLatin1Char(' '), Qt::KeepEmptyParts);
    bool ok = false;
    const int given = tokens.at(0).toInt(&ok, 10);
    require(tokens.size() == 1 && ok && given >= 0 && !before.contains(unsigned(given)) && after.contains(unsigned(given)),
            "dial plan took a number that the line does not give", line);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::startProcess("fuzz_console", true);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    static const uint8_t kStatus[] = {STATUS_FREE, STATUS_CALL, STATUS_PICKUP, STATUS_FREE};
    const uint8_t config = data[0];
    const bool emptyQueues = (config & 4) != 0;

    Settings settings;
    ModelKorvel2023 model(&settings);
    model.status = kStatus[config & 3];
    ConsoleScan scan(&settings, &model);

    // As the reader thread does: lines, then the last one without a line feed.
    LineReader reader;
    QList<QByteArray> lines = reader.feed(reinterpret_cast<const char*>(data + 1), int(size - 1));
    QByteArray last;
    if (reader.finish(&last))
        lines.append(last);

    for (const QByteArray& bytes : lines) {
        const QString line = QString::fromUtf8(bytes.constData(), bytes.size());
        const QList<CommandTESK> send = model.snapshotSend(), cmdMode = model.snapshotSendCmdMode();
        const QSet<unsigned> imit = model.dialPlan.numbers(DialPlan::ImitList);
        const QSet<unsigned> black = model.dialPlan.numbers(DialPlan::BlackList);

        scan.handle_line(line);

        const QList<CommandTESK> sendAfter = model.snapshotSend(), cmdModeAfter = model.snapshotSendCmdMode();
        require(sendAfter.size() <= ModelKorvel2023::kMaxQueued && cmdModeAfter.size() <= ModelKorvel2023::kMaxQueued,
                "send queue over its bound", line);
        const int door = documentedDoor(line);
        for (int d = 1; d <= 2; ++d) {
            const int added = doorFrames(sendAfter, d) + doorFrames(cmdModeAfter, d) - doorFrames(send, d) - doorFrames(cmdMode, d);
            require(added <= 0 || door == d, "door frame queued by a line that is not a command for that door", line);
            require(added <= 1, "one line queued two door frames", line);
        }

        const QSet<unsigned> imitAfter = model.dialPlan.numbers(DialPlan::ImitList);
        const QSet<unsigned> blackAfter = model.dialPlan.numbers(DialPlan::BlackList);
        require(imitAfter == imit || blackAfter == black, "one line changed both lists", line);
        checkListChange(imit, imitAfter, line);
        checkListChange(black, blackAfter, line);

        const QStringList tokens = line.split(QLatin1Char(' '), Qt::KeepEmptyParts);
        const ConsoleScan::ReadCommand command = ConsoleScan::mode_read_command(tokens);
        if (command.group == 11) {
            const QByteArray frame = ConsoleScan::message_frame(command.message);
            require(frame.size() == (command.message.size() + 1) / 2 + 1
                        && uint8_t(frame.back()) == refCrc8(frame, 1, frame.size() - 1),
                    "message frame without the checksum of its bytes", line);
        }

        if (emptyQueues) {
            CommandTESK c;
            while (model.takeSend(&c) || model.takeSendCmdMode(&c)) {
            }
        }
    }
    // Status lines leave through the writer thread; wait, so their memory is
    // freed within this input.
    Console::flush(1000);
    return 0;
}
