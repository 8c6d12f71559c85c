#ifndef CONSOLESCAN_H
#define CONSOLESCAN_H

#include "zma/dialplan.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <cstdint>

class Settings;
class ModelKorvel2023;

enum ConsoleModeRead_em : unsigned {
    READ_COMMANDS = 0,
    READ_VIRTUAL_NUMBERS = 1,
    READ_BLACKLIST_NUMBERS = 2,
};

// Reads the parent's lines from standard input in its own thread: commands,
// or the numbers of the dial-plan lists.
class ConsoleScan : public QObject
{
    Q_OBJECT
public:
    struct ReadCommand {
        uint16_t group = 0;
        uint16_t sub = 0;
        QString message;
    };

    static constexpr uint16_t NO_SUB = 0xFFFF;
    static constexpr unsigned MAX_APARTMENT = 1023;

    ConsoleScan(Settings* settings, ModelKorvel2023* model);

    static ReadCommand mode_read_command(const QStringList& tokens);
    static QByteArray message_frame(const QString& text);
    // Handles one input line in the current reading mode.
    void handle_line(const QString& line);

public slots:
    // Reads standard input until it ends, then asks the application to quit.
    void cycle_scan();

private:
    int mode_read_list(const QStringList& tokens, DialPlan::NumberList list);
    // What the parent is told of a list line that is no number.
    static QByteArray badNumberLine(const QString& line, DialPlan::NumberList list);
    void command_spi_do(uint8_t readCommandGroup, uint16_t readCommandSub, QString readCommandMessage);

    ConsoleModeRead_em consoleModeRead = READ_COMMANDS;
    Settings* settings;
    ModelKorvel2023* model;
};

unsigned char CRC_uart(unsigned char CRC_Value, unsigned char Data_Value);

#endif
