#ifndef CONTROLLERKORVEL2023_H
#define CONTROLLERKORVEL2023_H

#include "commands/commandtesk.h"
#include "commands/receivestream.h"

#include <QObject>
#include <QTimer>
#include <cstdint>

class ModelKorvel2023;
class ViewKorvelTesk;

// Reacts to the shield's frames on a 1 ms timer: first the start-up cycle
// that reads the shield's identity, then the call cycle.
class ControllerKorvel2023 : public QObject
{
    Q_OBJECT
public:
    explicit ControllerKorvel2023(ModelKorvel2023* model);

    void start(int ms);
    void stop();

public slots:
    void main_cycle();
    void init_cycle();

private:
    // Takes one chunk from the serial line, if any, and queues the frames it
    // completes. Returns whether a chunk was taken.
    bool receiveChunk(bool stopRepeat);
    void sendFirst(bool cmdMode);
    void in_free(CommandTESK receiveCmd);
    void in_cell(CommandTESK receiveCmd);
    void in_pickup(CommandTESK receiveCmd);
    void handleIdentity(const CommandTESK& receiveCmd);
    static uint32_t make_uint32_from_bytes(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3);

    ModelKorvel2023* model;
    ViewKorvelTesk* view;
    QTimer* timerCycle;
    QTimer* timerCycleInit;
    ReceiveStream receiveStream;
};

#endif
