#ifndef VIEWKORVELTESK_H
#define VIEWKORVELTESK_H

#include <QObject>
#include <QThread>

class CommandSender;
class UsartTimerThread;
class ConsoleCommand;
class ModelKorvel2023;
class Sound;
class ThreadSpiTransmitter;
class UDPread;
class UdpWrite;
class ConsoleScan;

// Owns the hardware-facing workers: board, audio, console, serial port.
class ViewKorvelTesk : public QObject
{
    Q_OBJECT
public:
    explicit ViewKorvelTesk(ModelKorvel2023* model);

    void start();
    // Ends the worker threads and closes the serial port; used when the
    // driver shuts down in order.
    void stop(bool waitConsole);

    CommandSender* commandSender;
    UsartTimerThread* usart;
    ConsoleCommand* consoleCommand;
    ModelKorvel2023* model;
    Sound* sound;
    ThreadSpiTransmitter* threadSpiTransmitter;
    UDPread* udpRead;
    UdpWrite* udpWrite;
    QThread* treadConsole;
    ConsoleScan* consoleScan;
};

#endif
