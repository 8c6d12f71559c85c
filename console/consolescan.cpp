#include "console/consolescan.h"
#include "console/console.h"
#include "log/diagnostics.h"
#include "console/linereader.h"
#include "utils/signalwatcher.h"
#include "log/logservice.h"
#include "zma/modelkorvel2023.h"
#include "zma/settings.h"

#include <QCoreApplication>
#include <QDebug>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <unistd.h>

ConsoleScan::ConsoleScan(Settings* settings, ModelKorvel2023* model)
    : QObject(nullptr), settings(settings), model(model)
{
}

void ConsoleScan::cycle_scan()
{
    LineReader reader;
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(STDIN_FILENO, buf, sizeof(buf));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // A parent may hand over a non-blocking pipe: wait, don't spin.
            pollfd in{STDIN_FILENO, POLLIN, 0};
            ::poll(&in, 1, -1);
            continue;
        }
        if (n < 0)
            qDebug() << "#ERROR: console: reading standard input failed:" << strerror(errno);
        if (n <= 0)
            break;
        const QList<QByteArray> lines = reader.feed(buf, static_cast<int>(n));
        if (const int dropped = reader.takeDropped())
            qDebug() << "#ERROR: console line longer than 64 KiB dropped, count:" << dropped;
        for (const QByteArray& line : lines)
            handle_line(QString::fromUtf8(line.constData(), line.size()));
    }
    QByteArray last;
    if (reader.finish(&last))
        handle_line(QString::fromUtf8(last.constData(), last.size()));

    // The parent is gone: free the serial port and the UDP ports for the
    // next driver. main() logs the end once the workers have stopped, so it
    // is the last line of the log.
    SignalWatcher::requestQuit();
}

void ConsoleScan::handle_line(const QString& line)
{
    const QStringList tokens = line.split(QLatin1Char(' '), Qt::KeepEmptyParts);
    switch (consoleModeRead) {
    case READ_VIRTUAL_NUMBERS:
        if (mode_read_list(tokens, DialPlan::ImitList) < 0) {
            Console::writeLine(QStringLiteral("#End read dialPlan\n\nmask_block\n#Write blacklist dialPlan for shield:"));
            model->dialPlan.clearList(DialPlan::BlackList);
            consoleModeRead = READ_BLACKLIST_NUMBERS;
        }
        break;
    case READ_BLACKLIST_NUMBERS:
        if (mode_read_list(tokens, DialPlan::BlackList) < 0) {
            Console::writeLine(QStringLiteral("#End read dialPlan\n\n#Shield update virtual list\n#Shield update black list"));
            consoleModeRead = READ_COMMANDS;
        }
        break;
    default: {
        const ReadCommand command = mode_read_command(tokens);
        // Not cut to 8 bits: 258 would be taken for 2 and open a door.
        const uint8_t group = command.group <= 0xFF ? static_cast<uint8_t>(command.group) : 0;
        command_spi_do(group, command.sub, command.message);
        break;
    }
    }
}

namespace {
// Qt's base-10 reading; a value that does not fit 16 bits is no number, so
// that 65538 is not taken for 2.
bool readNumber(const QStringList& tokens, int index, uint16_t* value)
{
    if (index >= tokens.size())
        return false;
    bool ok = false;
    const uint v = tokens.at(index).toUInt(&ok, 10);
    if (!ok || v > 0xFFFF)
        return false;
    *value = static_cast<uint16_t>(v);
    return true;
}

int decimalDigits(uint32_t v)
{
    int digits = 1;
    while (v >= 10) {
        v /= 10;
        ++digits;
    }
    return digits;
}
}

ConsoleScan::ReadCommand ConsoleScan::mode_read_command(const QStringList& tokens)
{
    ReadCommand result;
    uint16_t v = 0;
    const bool haveNumber = readNumber(tokens, 0, &v);

    if (tokens.size() == 1 && haveNumber) {
        const int digits = decimalDigits(v);
        if (digits == 1) {
            result.group = v;
            result.sub = NO_SUB;
        } else {
            uint32_t power = 1;
            for (int i = 1; i < digits; ++i)
                power *= 10;
            result.group = static_cast<uint16_t>(v / power);
            result.sub = static_cast<uint16_t>(v % power);
        }
        return result;
    }
    if (tokens.size() == 2 && haveNumber && v == 11) {
        result.group = 11;
        result.message = tokens.at(1);
        return result;
    }
    if (tokens.size() == 2 && haveNumber) {
        uint16_t second = 0;
        // 65535 stands for the lone "2", which opens door 1: as a second
        // number it counts as no number, or "2 65535" would open it.
        if (readNumber(tokens, 1, &second) && second != NO_SUB) {
            result.group = v;
            result.sub = second;
        }
        return result;
    }

    const QString& word = tokens.at(0);
    uint16_t n = 0;
    if (word == QLatin1String("pickup")) {
        result.group = 1;
    } else if (word == QLatin1String("open")) {
        result.group = 2;
        // The number itself, not cut to 8 bits: only 1 and 2 are doors.
        // 65535 stands for the compact "2", so here it counts as no number.
        if (tokens.size() == 1)
            result.sub = 3;
        else if (readNumber(tokens, 1, &n) && n != NO_SUB)
            result.sub = n;
        else
            result.sub = 0;
    } else if (word == QLatin1String("drop")) {
        result.group = 3;
    } else if (word == QLatin1String("dial")) {
        // A missing number counts as an unreadable one: 0.
        result.group = 4;
        result.sub = readNumber(tokens, 1, &n) ? n : 0;
    } else if (word == QLatin1String("phonedetect")) {
        result.group = 5;
        result.sub = readNumber(tokens, 1, &n) ? n : 0;
    } else if (word == QLatin1String("dialplan")) {
        result.group = 6;
    }
    return result;
}

int ConsoleScan::mode_read_list(const QStringList& tokens, DialPlan::NumberList list)
{
    bool ok = false;
    const int number = tokens.at(0).toInt(&ok, 10);
    if (!ok) {
        Diagnostics::reportLogged("Console", "#ERROR: Ошибка ввода квартиры",
                                  badNumberLine(tokens.join(QLatin1Char(' ')), list));
        return 0;
    }
    if (tokens.size() > 1)
        return 0;
    // The caller writes the end-of-list reply, whole with what follows it.
    if (number < 0)
        return -1;
    if (static_cast<unsigned>(number) > MAX_APARTMENT) {
        Console::writeLine(QStringLiteral("Error: big number"));
        return 0;
    }
    model->dialPlan.insert(list, static_cast<unsigned>(number));
    return 0;
}

QByteArray ConsoleScan::badNumberLine(const QString& line, DialPlan::NumberList list)
{
    // A pasted block could be long: enough of it to recognise.
    constexpr int kShown = 40;
    const QString shown = line.size() > kShown ? line.left(kShown) + QStringLiteral("...") : line;
    const QString name = list == DialPlan::ImitList ? QStringLiteral("virtual") : QStringLiteral("blocked");
    return QStringLiteral("#ERROR: dial plan: \"%1\" is no apartment number, the line is ignored; the %2 list takes "
                          "one decimal number per line, 0 to %3, and a negative number ends it")
        .arg(shown, name)
        .arg(MAX_APARTMENT)
        .toUtf8();
}

void ConsoleScan::command_spi_do(uint8_t readCommandGroup, uint16_t readCommandSub, QString readCommandMessage)
{
    switch (readCommandGroup) {
    case 1:
        model->pickup();
        logService->debug("Console", "pickup");
        break;
    case 2:
        if (readCommandSub == NO_SUB) {
            model->open_1();
            logService->debug("Console", "Open");
        } else if (readCommandSub == 1) {
            model->open_1();
        } else if (readCommandSub == 2) {
            model->open_2();
        }
        break;
    case 3:
        model->drop();
        logService->debug("Console", "Drop");
        break;
    case 6:
        // In force before the next line is read: this runs in the reader thread.
        consoleModeRead = READ_VIRTUAL_NUMBERS;
        model->dialPlan.clearList(DialPlan::ImitList);
        Console::writeLine(QStringLiteral("mask_imit\n#Write dialPlan for shield:"));
        break;
    case 7:
        settings->set_intercom(static_cast<uint8_t>(readCommandSub & 0xFF));
        break;
    case 11: {
        const QByteArray frame = message_frame(readCommandMessage);
        qDebug() << "DEBUG: message send: " << QString::fromLatin1(frame.toHex());
        break;
    }
    default:
        // 4 (dial), 5 (phonedetect), 9 and the rest: accepted, no effect.
        break;
    }
}

QByteArray ConsoleScan::message_frame(const QString& text)
{
    QByteArray frame;
    for (int i = 0; i < text.size(); i += 2) {
        bool ok = false;
        const uint value = text.mid(i, 2).toUInt(&ok, 16);
        frame.append(char(ok ? (value & 0xFF) : 0));
    }
    unsigned char crc = 0;
    for (int i = 1; i < frame.size(); ++i)
        crc = CRC_uart(crc, static_cast<unsigned char>(frame.at(i)));
    frame.append(char(crc));
    return frame;
}

unsigned char CRC_uart(unsigned char CRC_Value, unsigned char Data_Value)
{
    for (int i = 0; i < 8; ++i) {
        const unsigned char feedback = (CRC_Value ^ Data_Value) & 0x01;
        if (feedback)
            CRC_Value ^= 0x18;
        CRC_Value = static_cast<unsigned char>((CRC_Value >> 1) | (feedback << 7));
        Data_Value >>= 1;
    }
    return CRC_Value;
}
