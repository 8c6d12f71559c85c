#ifndef SHIELD_SIM_CONTROLCOMMANDS_H
#define SHIELD_SIM_CONTROLCOMMANDS_H

// The command language of standard input, one command a line (the list is
// in --help; a driver run with -ic 121 reads the digits of ring-gate's P
// then of S). Empty lines and lines starting with '#' are ignored; anything
// else gets an error line on standard error. At the end of the input the
// application quits, unless stay: then a FIFO waits for its next writer,
// anything else is left be.

#include <QObject>

class AudioPeer;
class QSocketNotifier;
class Shield;

class ControlCommands : public QObject
{
public:
    // audio for "stats"; none counts zero blocks.
    ControlCommands(Shield& shield, AudioPeer* audio, bool stay) : shield(shield), audio(audio), stay(stay) {}
    // Starts reading standard input.
    void start();

private:
    void readInput();
    void run(const QString& rawLine);

    Shield& shield;
    AudioPeer* audio;
    bool stay;
    QSocketNotifier* note = nullptr;
    QByteArray pending;
};

#endif
