#ifndef SHIELD_SIM_CONTROLCOMMANDS_H
#define SHIELD_SIM_CONTROLCOMMANDS_H

// The command language of standard input, one command a line:
//   ring N            dial apartment N (0..255): CMD_DIAL, data N 00 00 00,
//                     repeated every second until picked up or dropped
//   ring-gate P S     dial in gate mode: data S 00 P 00 (P, S 0..255); the
//                     driver run with -ic 121 reads the digits of P then of S
//   hangup            send CMD_DROP, the call ends
//   raw HEX           write the bytes as given, spaces allowed ("FF 48 65 ..")
//   silent on|off     stop / resume answering the driver
//   state             print the state line again
//   stats             print "spi blocks N"
//   quit              exit
// Empty lines and lines starting with '#' are ignored; anything else gets
// an error line on standard error.

#include <QString>

class AudioPeer;
class Shield;

class ControlCommands
{
public:
    explicit ControlCommands(Shield& shield) : shield(shield) {}

    // For "stats"; none counts zero blocks.
    void setAudio(AudioPeer* peer) { audio = peer; }

    void run(const QString& rawLine);

private:
    bool busy(const QString& word) const;

    Shield& shield;
    AudioPeer* audio = nullptr;
};

#endif
