#include "zma/controllerkorvel2023.h"
#include "commands/commandsender.h"
#include "commands/usarttimerthread.h"
#include "console/consolecommand.h"
#include "log/diagnostics.h"
#include "log/logservice.h"
#include "sound/sound.h"
#include "zma/modelkorvel2023.h"
#include "zma/settings.h"
#include "utils/wakeup.h"
#include "zma/viewkorveltesk.h"

#include <QDebug>

ControllerKorvel2023::ControllerKorvel2023(ModelKorvel2023* model)
    : QObject(nullptr), model(model)
{
    view = new ViewKorvelTesk(model);
    // Single shot, started only while work waits for its turn.
    timerCycleInit = new QTimer();
    timerCycle = new QTimer();
    for (QTimer* timer : {timerCycleInit, timerCycle}) {
        timer->setTimerType(Qt::PreciseTimer);
        timer->setSingleShot(true);
    }
    // Function-pointer connections: a burst ticks every millisecond, which
    // spares the by-name lookup.
    connect(timerCycleInit, &QTimer::timeout, this, &ControllerKorvel2023::init_cycle, Qt::DirectConnection);
    connect(timerCycle, &QTimer::timeout, this, &ControllerKorvel2023::main_cycle, Qt::DirectConnection);
    connect(view->usart, SIGNAL(portLost()), this, SLOT(slotPortLost()), Qt::DirectConnection);
    connect(view->commandSender, &CommandSender::abandoned, this, &ControllerKorvel2023::slotAbandoned,
            Qt::DirectConnection);
    timerIdentityRetry = new QTimer();
    timerIdentityRetry->setSingleShot(true);
    timerIdentityRetry->setInterval(kIdentityRetryMs);
    connect(timerIdentityRetry, &QTimer::timeout, this, &ControllerKorvel2023::slotIdentityRetry,
            Qt::DirectConnection);
    // Chunks from the serial thread and commands from the console thread
    // wake the cycle in the main thread.
    wakeup = new Wakeup(this, [this] { run(); });
    view->usart->onChunk([this] { wakeup->ask(); });
    model->onQueued([this] { wakeup->ask(); });
}

void ControllerKorvel2023::start(int ms)
{
    periodNs = qint64(ms) * 1000000;
    timerCycle->setInterval(ms);
    timerCycleInit->setInterval(ms);
    view->start();
    model->read_version_ZMA();
}

void ControllerKorvel2023::stop(bool waitConsole)
{
    timerIdentityRetry->stop();
    timerCycleInit->stop();
    timerCycle->stop();
    // The parent's last commands (a door opened just before it closed our
    // input) go out as the next ticks would have sent them; the port writes
    // what is waiting before it closes. A ringing call's traffic keeps to
    // the shield's rhythm and stays.
    CommandTESK cmd;
    while (model->takeSendCmdMode(&cmd))
        view->commandSender->send(cmd);
    view->stop(waitConsole);
}

bool ControllerKorvel2023::sendFirst(bool cmdMode)
{
    // Into a member: a fresh command allocates, and this runs every tick.
    if (!(cmdMode ? model->takeSendCmdMode(&outgoing) : model->takeSend(&outgoing)))
        return false;
    view->commandSender->send(outgoing);
    return true;
}

bool ControllerKorvel2023::takeChunks()
{
    DataTransmission& readBuffer = view->usart->readBuffer;
    bool took = false;
    while (readBuffer.detect_data()) {
        receiveStream.append(readBuffer.get_data());
        took = true;
    }
    return took;
}

void ControllerKorvel2023::reportDroppedBytes()
{
    droppedBytes += view->usart->takeDroppedReadBytes() + receiveStream.takeOverflow();
    if (droppedBytes == 0)
        return;
    if (lastDropReport.isValid() && lastDropReport.elapsed() < kDropReportMs)
        return;
    Diagnostics::reportLogged("main", QStringLiteral("ERROR: serial: %1 received bytes dropped, more came than the "
                                                     "decoder takes")
                                          .arg(droppedBytes)
                                          .toUtf8());
    droppedBytes = 0;
    lastDropReport.start();
}

void ControllerKorvel2023::slotPortLost()
{
    // Bytes from before the break must not join the new ones into a frame.
    receiveStream.clear();
    view->usart->readBuffer.clear();
    view->usart->writeBuffer.clear();
    if (identityPending)
        return; // start-up keeps its request and its repeat
    view->commandSender->repeatStop();
    CommandTESK cmd;
    while (model->takeSend(&cmd)) {
    }
    while (model->takeSendCmdMode(&cmd)) {
    }
    // The call went with the line.
    if (model->status != STATUS_FREE) {
        model->status = STATUS_FREE;
        view->consoleCommand->command_drop();
        logCallAudio();
    }
}

void ControllerKorvel2023::slotAbandoned(const CommandTESK& cmd, int sends)
{
    const char* name = commandName(cmd.cmd);
    const QString what = QStringLiteral("%1 sent %2 times").arg(name ? name : "an unknown command").arg(sends);
    const bool identityRequest = cmd.cmd >= CMD_READ_VERSION_ZMA && cmd.cmd <= CMD_READ_UID_2;
    if (!identityRequest) {
        // Beside the log's "ERROR CMD", which names nothing.
        Diagnostics::reportLogged(
            "Controller", QStringLiteral("ERROR: serial: the shield did not answer %1, given up").arg(what).toUtf8());
        const int door = doorOfCommand(cmd.cmd);
        if (door != 0 && model->settings->confirm)
            view->consoleCommand->command_open_failed(door);
    }
    if (!identityPending)
        return;
    // Nothing asks for the identity any more: ask again after a pause, for
    // as long as it takes; a shield may be powered or reset late.
    // Once a minute at most, also for a shield that answers now and then.
    if (!lastSilentReport.isValid() || lastSilentReport.elapsed() >= kSilentReportMs) {
        Diagnostics::reportLogged("main", QStringLiteral("ERROR: serial: the shield does not answer on %1 (%2), "
                                                         "asking again every %3 s")
                                              .arg(view->usart->portName(), what)
                                              .arg(kIdentityRetryMs / 1000)
                                              .toUtf8());
        lastSilentReport.start();
        shieldSilent = true;
    }
    // A command given up during the pause does not push the retry back.
    if (!timerIdentityRetry->isActive())
        timerIdentityRetry->start();
}

void ControllerKorvel2023::slotIdentityRetry()
{
    if (identityPending)
        model->read_version_ZMA();
}

uint32_t ControllerKorvel2023::make_uint32_from_bytes(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3)
{
    return uint32_t(b0) | (uint32_t(b1) << 8) | (uint32_t(b2) << 16) | (uint32_t(b3) << 24);
}

void ControllerKorvel2023::init_cycle()
{
    tick(false);
}

void ControllerKorvel2023::main_cycle()
{
    tick(true);
}

void ControllerKorvel2023::run()
{
    if (identityPending)
        init_cycle();
    else
        main_cycle();
}

void ControllerKorvel2023::tick(bool callCycle)
{
    // One command-mode frame per period at most, as a steady tick sent them.
    if (!lastCmdModeSend.isValid() || lastCmdModeSend.nsecsElapsed() >= periodNs) {
        if (sendFirst(true))
            lastCmdModeSend.start();
    }
    const bool took = takeChunks();
    // In the call cycle any bytes from the shield, valid or not, end the repeat.
    if (took && callCycle)
        view->commandSender->repeatStop();

    int handled = 0;
    QByteArray frame;
    // At the last identity answer the call cycle takes over the rest.
    while (handled < kMaxFramesPerTick && callCycle != identityPending && receiveStream.next(&frame)) {
        model->appendReceive(CommandTESK(frame));
        CommandTESK receiveCmd;
        if (model->takeReceive(&receiveCmd)) {
            if (callCycle)
                handleFrame(receiveCmd);
            else
                handleIdentity(receiveCmd);
        }
        // Call traffic goes out one frame per frame from the shield.
        sendFirst(false);
        ++handled;
    }
    if (took && handled == 0)
        sendFirst(false);
    view->usart->flush();
    reportDroppedBytes();
    scheduleNext();
}

void ControllerKorvel2023::scheduleNext()
{
    QTimer* timer = identityPending ? timerCycleInit : timerCycle;
    (identityPending ? timerCycle : timerCycleInit)->stop();
    // A frame past the per-tick bound, or the next command-mode frame's
    // turn: a period on, like the next tick of a steady timer. Dropped bytes
    // not yet said are said when their second is up.
    int waitMs = -1;
    if (receiveStream.pending() >= FRAME_SIZE || view->usart->readBuffer.detect_data() || model->hasSendCmdMode())
        waitMs = timer->interval();
    else if (droppedBytes > 0)
        waitMs = int(qMax<qint64>(1, kDropReportMs - lastDropReport.elapsed()));
    // A tick timed for a later drop report would hold a waiting frame back.
    if (waitMs < 0)
        timer->stop();
    else if (!timer->isActive() || timer->remainingTime() > waitMs)
        timer->start(waitMs);
}

void ControllerKorvel2023::handleIdentity(const CommandTESK& receiveCmd)
{
    const QByteArray& d = receiveCmd.data;
    auto byte = [&d](int i) { return i < d.size() ? static_cast<uint8_t>(d.at(i)) : uint8_t(0); };
    Settings* settings = model->settings;

    if (receiveCmd.cmd >= CMD_READ_VERSION_ZMA && receiveCmd.cmd <= CMD_READ_UID_2) {
        // The sequence goes on from this answer; a retry would start it over.
        timerIdentityRetry->stop();
        if (shieldSilent) {
            const QString line = QStringLiteral("serial: the shield answers on %1 at last").arg(view->usart->portName());
            Diagnostics::reportLogged("main", line.toUtf8());
            shieldSilent = false;
        }
    }
    switch (receiveCmd.cmd) {
    case CMD_READ_VERSION_ZMA:
        view->commandSender->repeatStop();
        settings->version = byte(0);
        settings->revision = byte(1);
        logService->debug("Controller", "Version %d", byte(0));
        model->read_version_firmware();
        break;
    case CMD_READ_VERSION_FIRMWARE:
        view->commandSender->repeatStop();
        settings->firmware = static_cast<uint16_t>(byte(0) + 256 * byte(1));
        settings->beta = byte(2);
        model->read_uid_0_ZMA();
        break;
    case CMD_READ_UID_0:
        view->commandSender->repeatStop();
        settings->id[0] = make_uint32_from_bytes(byte(0), byte(1), byte(2), byte(3));
        model->read_uid_1_ZMA();
        break;
    case CMD_READ_UID_1:
        view->commandSender->repeatStop();
        settings->id[1] = make_uint32_from_bytes(byte(0), byte(1), byte(2), byte(3));
        model->read_uid_2_ZMA();
        break;
    case CMD_READ_UID_2:
        view->commandSender->repeatStop();
        settings->id[2] = make_uint32_from_bytes(byte(0), byte(1), byte(2), byte(3));
        settings->send_info_to_console();
        // The call cycle takes over: scheduleNext() times it from here.
        identityPending = false;
        break;
    default:
        break;
    }
}

void ControllerKorvel2023::handleFrame(const CommandTESK& receiveCmd)
{
    logService->debug("Controller", "Приняты данные ");
    model->mode = static_cast<uint8_t>(receiveCmd.mode);
    logService->debug("Controller", "LINK_MODE");
    switch (model->status.load()) {
    case STATUS_FREE:
        logService->debug("Controller", "STATUS_FREE");
        in_free(receiveCmd);
        break;
    case STATUS_CALL:
        logService->debug("Controller", "STATUS_CALL");
        in_cell(receiveCmd);
        break;
    case STATUS_PICKUP:
        logService->debug("Controller", "STATUS_PICKUP");
        in_pickup(receiveCmd);
        break;
    default:
        logService->debug("Controller", "STATUS_ERROR");
        model->status = STATUS_FREE;
        break;
    }
}

void ControllerKorvel2023::in_free(CommandTESK receiveCmd)
{
    switch (receiveCmd.cmd) {
    case CMD_DIAL: {
        uint16_t dial = 0;
        if (model->settings->setIntercom == 121)
            dial = static_cast<uint16_t>(DialPlan::calcDialGatesMode(&receiveCmd.data));
        else
            dial = static_cast<uint16_t>(DialPlan::calcDial(&receiveCmd.data));
        if (model->dialPlan.isBlockPhone(dial)) {
            view->consoleCommand->command_dial(dial, 0);
            view->consoleCommand->command_drop();
            logService->debug("Controller", "isBlockPhone Drop");
            model->drop();
        } else {
            // Status first: the call's repeat then gets the long period.
            model->status = STATUS_CALL;
            callAudioStart = view->sound->stats.counts();
            view->consoleCommand->command_dial(dial, 0);
            model->call();
            logService->debug("Controller", "STATUS_FREE Dial");
        }
        break;
    }
    case CMD_OPEN_1_FREE_DONE:
        logService->debug("Controller", "Success OP1");
        view->commandSender->repeatStop();
        confirmOpen(1);
        break;
    case CMD_OPEN_2_FREE_DONE:
        logService->debug("Controller", "Success OP2");
        view->commandSender->repeatStop();
        confirmOpen(2);
        break;
    default:
        break;
    }
}

void ControllerKorvel2023::in_cell(CommandTESK receiveCmd)
{
    switch (receiveCmd.cmd) {
    case CMD_DIAL:
        if (model->isSendEmpty()) {
            model->call();
            logService->debug("Controller", "STATUS_CALL Call");
        }
        break;
    case CMD_DROP:
        model->status = STATUS_FREE;
        view->consoleCommand->command_drop();
        view->commandSender->repeatStop();
        logService->debug("Controller", "STATUS_CALL Drop");
        logCallAudio();
        break;
    case CMD_PICKUP_DONE:
        model->status = STATUS_PICKUP;
        if (model->settings->confirm)
            view->consoleCommand->command_pickup();
        view->commandSender->repeatStop();
        logService->debug("Controller", "STATUS_CALL pickup");
        break;
    case CMD_OPEN_1:
        view->commandSender->repeatStop();
        confirmOpen(1);
        logService->debug("Controller", "STATUS_CALL Открыта дверь 1");
        break;
    case CMD_OPEN_2:
        view->commandSender->repeatStop();
        confirmOpen(2);
        logService->debug("Controller", "STATUS_CALL Открыта дверь 2");
        break;
    default:
        logService->debug("Controller", "STATUS_CALL Неизвестная команда ");
        break;
    }
}

void ControllerKorvel2023::in_pickup(CommandTESK receiveCmd)
{
    switch (receiveCmd.cmd) {
    case CMD_DROP:
        model->status = STATUS_FREE;
        view->commandSender->repeatStop();
        view->consoleCommand->command_drop();
        logService->debug("Controller", "STATUS_PICKUP Drop");
        logCallAudio();
        break;
    case CMD_OPEN_1:
        view->commandSender->repeatStop();
        confirmOpen(1);
        logService->debug("Controller", "STATUS_PICKUP Открыта дверь 1");
        break;
    case CMD_OPEN_2:
        view->commandSender->repeatStop();
        confirmOpen(2);
        logService->debug("Controller", "STATUS_PICKUP Открыта дверь 2");
        break;
    default:
        logService->debug("Controller", "STATUS_PICKUP Неизвестная команда ");
        break;
    }
}

void ControllerKorvel2023::confirmOpen(int door)
{
    if (model->settings->confirm)
        view->consoleCommand->command_open(door);
}

void ControllerKorvel2023::logCallAudio()
{
    const AudioStats::Counts c = view->sound->stats.counts() - callAudioStart;
    logService->debug("main", "Call audio to the line: %lld blocks dropped to keep the delay down, %lld underrun blocks, "
                              "%lld dropped at the bound",
                      static_cast<long long>(c.trimmed), static_cast<long long>(c.underruns),
                      static_cast<long long>(c.boundDropped));
}
