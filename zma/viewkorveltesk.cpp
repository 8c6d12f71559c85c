#include "zma/viewkorveltesk.h"
#include "commands/commandsender.h"
#include "commands/usarttimerthread.h"
#include "console/consolecommand.h"
#include "console/consolescan.h"
#include "libzq-board-korvel-20203.h"
#include "sound/sound.h"
#include "sound/threadspitransmitter.h"
#include "udp/udpread.h"
#include "udp/udpwrite.h"
#include "zma/modelkorvel2023.h"
#include "zma/settings.h"

ViewKorvelTesk::ViewKorvelTesk(ModelKorvel2023* model)
    : QObject(nullptr), model(model)
{
    board_lib_init();
    board_gpio_init();
    board_spi_init();

    sound = new Sound();
    threadSpiTransmitter = new ThreadSpiTransmitter(16, sound);
    threadSpiTransmitter->setTrim(!model->settings->audioFifo);
    threadSpiTransmitter->setRealtimePriority(model->settings->rtPriority);
    udpRead = new UDPread(nullptr, 20003, sound);
    udpWrite = new UdpWrite(nullptr, 20002, sound);
    // The block leaves from the audio thread itself: a hand-over to the main
    // loop would cost an event and a wake-up per exchange. The sender never
    // blocks, so the audio clock cannot stall on it.
    udpWrite->moveToThread(threadSpiTransmitter);
    // The parent's audio is read there too: it is used only there, and the
    // main loop's 1 ms ticks need not poll the socket.
    udpRead->moveToThread(threadSpiTransmitter);
    connect(threadSpiTransmitter, SIGNAL(data_update(QByteArray)),
            udpWrite, SLOT(write(QByteArray)), Qt::AutoConnection);

    treadConsole = new QThread();
    treadConsole->setObjectName(QStringLiteral("zma-console"));
    consoleScan = new ConsoleScan(model->settings, model);
    consoleCommand = new ConsoleCommand(model->settings);
    connect(treadConsole, SIGNAL(started()), consoleScan, SLOT(cycle_scan()), Qt::AutoConnection);
    consoleScan->moveToThread(treadConsole);

    usart = new UsartTimerThread(1);
    commandSender = new CommandSender(&model->status, usart);
    connect(commandSender, &CommandSender::repeatInCall, commandSender,
            [model](const CommandTESK& cmd) { model->appendSend(cmd); }, Qt::DirectConnection);
}

void ViewKorvelTesk::start()
{
    threadSpiTransmitter->start(QThread::InheritPriority);
    treadConsole->start(QThread::InheritPriority);
    usart->start();
}

void ViewKorvelTesk::stop(bool waitConsole)
{
    threadSpiTransmitter->stopLoop();
    threadSpiTransmitter->waitStopped(2000);
    // Frees the port and its lock file for the next driver.
    usart->close();
    // After end of input the reader has returned from its loop and its thread
    // is in, or about to enter, its event loop. Otherwise it is blocked in a
    // read that nothing can interrupt; the process ends around it.
    if (waitConsole) {
        treadConsole->quit();
        treadConsole->wait(2000);
    }
}
