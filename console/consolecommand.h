#ifndef CONSOLECOMMAND_H
#define CONSOLECOMMAND_H

#include <cstdint>

class Settings;

// Status lines for the parent on standard output.
class ConsoleCommand
{
public:
    explicit ConsoleCommand(Settings* settings);

    void command_dial(uint16_t room, uint8_t addrGate);
    void command_pickup();
    void command_open();
    void command_drop();
    void command_message(const uint8_t* buffer, uint8_t size);

private:
    Settings* settings;
};

#endif
