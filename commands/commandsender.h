#ifndef COMMANDSENDER_H
#define COMMANDSENDER_H

#include "commands/commandtesk.h"

#include <QObject>
#include <QQueue>
#include <QTimer>
#include <atomic>
#include <cstdint>

class UsartTimerThread;

// Puts frames on the line and repeats the oldest unanswered one until the
// controller reports an answer, at most five times.
class CommandSender : public QObject
{
    Q_OBJECT
public:
    // status: the line's state (callstatus.h), which sets how a frame is
    // repeated; it outlives the sender.
    CommandSender(const std::atomic<uint8_t>* status, UsartTimerThread* usart);

    void send(CommandTESK cmd);
    void repeatStop();

    static constexpr int kMaxRepeats = 5;
    static constexpr int kPeriodShortMs = 700;
    static constexpr int kPeriodCallMs = 5500;
    // Only the head is ever repeated; the rest need not grow without end
    // while the shield is silent.
    static constexpr int kMaxRepeatQueue = 64;

signals:
    // The oldest unanswered frame was given up after `sends` times on the line.
    void abandoned(const CommandTESK& cmd, int sends);
    // In a call frames go out in link mode, between the shield's audio
    // frames: the repeat must take the link queue rather than the line.
    void repeatInCall(const CommandTESK& cmd);

private slots:
    void repeatStart(CommandTESK cmd);
    void repeatCmd();

private:
    const std::atomic<uint8_t>* status;
    UsartTimerThread* usart;
    QQueue<CommandTESK> queueRepeat;
    QTimer* timerWaitAnswerCmd;
    int cntTry = 0;
    // How often the head of queueRepeat went to the line.
    int headSends = 0;
};

#endif
