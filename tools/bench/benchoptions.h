#ifndef BENCHOPTIONS_H
#define BENCHOPTIONS_H

// What zma-bench is asked to do, from its command line (main.cpp).

#include <QString>

struct BenchOptions {
    double seconds = 20, warmup = 2; // the idle window, and the settling before it
    int dials = 200, opens = 200;
    bool driver = true, reference = true; // which programs to measure at rest
    bool idleOnly = false, pidReport = false, strict = false;
    QString dumpDir;      // raw samples for a closer look, when set
    bool latency = false; // the audio latency runs too
    QString patterns = "abcde";
    double latencyScale = 1;
    bool load = true; // the driver under load, as started and with -rt-priority 0
    double loadSeconds = 60;
    int busyPerCore = 2;
};

#endif
