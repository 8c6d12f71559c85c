#include "console/consolecommand.h"
#include "console/console.h"
#include "zma/settings.h"

ConsoleCommand::ConsoleCommand(Settings* settings)
    : settings(settings)
{
}

void ConsoleCommand::command_dial(uint16_t room, uint8_t addrGate)
{
    if (settings->flagAdrGate != 0)
        Console::writeLine(QStringLiteral("dial %1 %2").arg(room).arg(addrGate));
    else
        Console::writeLine(QStringLiteral("dial %1").arg(room));
}

void ConsoleCommand::command_pickup()
{
    Console::writeLine(QStringLiteral("pickup"));
}

void ConsoleCommand::command_open(int door)
{
    Console::writeLine(QStringLiteral("open %1").arg(door));
}

void ConsoleCommand::command_open_failed(int door)
{
    Console::writeLine(QStringLiteral("open %1 failed").arg(door));
}

void ConsoleCommand::command_drop()
{
    Console::writeLine(QStringLiteral("drop"));
}

void ConsoleCommand::command_message(const uint8_t* buffer, uint8_t size)
{
    // Formatted apart from the shared stream, which stays decimal.
    const QByteArray bytes(reinterpret_cast<const char*>(buffer), size);
    Console::writeLine(QStringLiteral("message ") + QString::fromLatin1(bytes.toHex()));
}
