#ifndef SHIELD_SIM_OPTIONS_H
#define SHIELD_SIM_OPTIONS_H

// The simulator's command line: the values, their defaults, and --help.

#include <QStringList>

struct Options {
    QString link;
    QString spi;
    QString wavIn;
    QString record;
    bool recordRaw = false; // keep the driver's idle blocks in --record
    double toneHz = 440.0;
    int amplitude = 8000;
    int version = 2;
    int revision = 5;
    int firmware = 529;
    int beta = 0;
    quint32 uid[3] = {0x1, 0xab, 0xc0de};
    int delayMs = 5;
    int autoRing = -1;
    int everyS = 30;
    int ringTimeoutS = -1;
    bool stay = false;
    bool dieWithParent = false;
    bool verbose = false;
    QString replay;
    double speed = 1.0;
    int toleranceMs = 250;

    // args as QCoreApplication::arguments() gives them. Returns 0 to go on,
    // -1 after printing --help (exit 0), else the exit code of a bad command
    // line, whose error is printed already.
    int parse(const QStringList& args);
};

#endif
