#ifndef LATENCYREPORT_H
#define LATENCYREPORT_H

// The latency runs side by side: each pattern's figures for every driver
// run, then the shield's direction, then whether the measurement held.

#include "latencypattern.h"
#include "latencyrun.h"

#include <vector>

// True when every run ran and nothing came out of order, twice or damaged.
bool printLatencyReport(const std::vector<LatencyPattern>& patterns, const std::vector<const LatencyRun*>& runs);

#endif
