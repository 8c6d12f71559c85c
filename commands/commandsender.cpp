#include "commands/commandsender.h"
#include "commands/callstatus.h"
#include "commands/usarttimerthread.h"
#include "log/logservice.h"

#include <QPair>
#include <algorithm>

CommandSender::CommandSender(const std::atomic<uint8_t>* status, UsartTimerThread* usart)
    : QObject(nullptr), status(status), usart(usart)
{
    timerWaitAnswerCmd = new QTimer();
    connect(timerWaitAnswerCmd, SIGNAL(timeout()), this, SLOT(repeatCmd()), Qt::DirectConnection);
}

void CommandSender::send(CommandTESK cmd)
{
    repeatStart(cmd);
    usart->writeBuffer.set_data(cmd.toArray());
}

void CommandSender::repeatStart(CommandTESK cmd)
{
    // A repeat that went through the model's queue comes back here.
    if (queueRepeat.isEmpty())
        headSends = 1;
    else if (cmd.toArray() == queueRepeat.head().toArray())
        ++headSends;
    if (queueRepeat.size() < kMaxRepeatQueue)
        queueRepeat.enqueue(cmd);
    const uint8_t now = status->load();
    const int period = (now == STATUS_FREE || now == STATUS_PICKUP) ? kPeriodShortMs : kPeriodCallMs;
    timerWaitAnswerCmd->start(period);
}

void CommandSender::repeatCmd()
{
    if (queueRepeat.isEmpty()) {
        timerWaitAnswerCmd->stop();
        return;
    }
    if (cntTry >= kMaxRepeats) {
        cntTry = 0;
        timerWaitAnswerCmd->stop();
        const CommandTESK given = queueRepeat.head();
        // The frames queued behind it go with it, unanswered too: each is
        // told once, with how often it went out.
        QList<QPair<CommandTESK, int>> behind;
        for (const CommandTESK& c : queueRepeat) {
            if (c.toArray() == given.toArray())
                continue;
            auto same = std::find_if(behind.begin(), behind.end(),
                                     [&c](const QPair<CommandTESK, int>& b) { return b.first.toArray() == c.toArray(); });
            if (same != behind.end())
                ++same->second;
            else
                behind.append({c, 1});
        }
        queueRepeat.clear();
        logService->debug("Controller", "ERROR CMD");
        emit abandoned(given, headSends);
        for (const QPair<CommandTESK, int>& b : behind)
            emit abandoned(b.first, b.second);
        return;
    }
    const CommandTESK cmd = queueRepeat.head();
    if (status->load() == STATUS_CALL) {
        logService->debug("Controller", "Repeat  Call");
        emit repeatInCall(cmd);
    } else {
        logService->debug("Controller", "Repeat CMD ");
        usart->writeBuffer.set_data(cmd.toArray());
        usart->flush();
        ++headSends;
    }
    ++cntTry;
}

void CommandSender::repeatStop()
{
    timerWaitAnswerCmd->stop();
    queueRepeat.clear();
    // Every command after an answer gets its full set of repeats.
    cntTry = 0;
}
