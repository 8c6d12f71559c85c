#ifndef LATENCYRUN_H
#define LATENCYRUN_H

// One driver, started with the given arguments, fed each parent pattern in
// turn: its blocks' delay to the SPI peer, and the peer's answers' delay to
// UDP 20002 during one pattern.

#include "latencypattern.h"
#include "parentdelay.h"
#include "shielddelay.h"

#include <QString>
#include <QStringList>
#include <vector>

class LatencyRun
{
public:
    LatencyRun(const QString& label, const QStringList& args);

    // Starts the driver, lets it settle for warmupS, plays the patterns
    // (the shield's direction measured during shieldDuring, or the first);
    // false when the driver did not start.
    bool run(const std::vector<LatencyPattern>& patterns, double warmupS, char shieldDuring = 'a');

    QString label;
    QStringList args;
    bool ran = false;
    std::vector<ParentDelay> parent; // one per pattern, in order
    ShieldDelay shield;
    char shieldPattern = 0;
    std::vector<int> stderrLines;    // new stderr lines of the driver, per pattern
    QByteArray stderrText;           // all of it, after start-up
    qint64 logDatagrams = 0;

    // Time after the last send for what is still queued to come out.
    static constexpr double kDrainS = 2;
};

#endif
