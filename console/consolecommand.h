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
    // "open N": the shield confirmed door N.
    void command_open(int door);
    // "open N failed": the shield never answered the command for door N.
    void command_open_failed(int door);
    void command_drop();
    void command_message(const uint8_t* buffer, uint8_t size);

private:
    Settings* settings;
};

#endif
