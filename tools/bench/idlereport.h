#ifndef IDLEREPORT_H
#define IDLEREPORT_H

// The driver and the two floors side by side in their idle window, the
// checks of the measurement, the driver's latencies, and the targets they
// are held to.

#include "benchoptions.h"
#include "driverrun.h"
#include "rig/verdict.h"

class IdleReport
{
public:
    IdleReport(const BenchOptions& o, const DriverRun& d, rig::Verdict& verdict)
        : o(o), d(d), dr(d.driver), de(d.design), ph(d.physical), D(dr.ran), G(de.ran), P(ph.ran), DG(D && G),
          DP(D && P), verdict(verdict) {}

    // 1 when a target failed, the measurement looks wrong or a program did not run.
    int print();
    // One file per series, one value (ms) a line: datagram gaps, latency samples.
    void dump(const QString& dir) const;

private:
    void table() const;
    bool checks() const; // true when the measurement looks right
    void threads() const;
    void targets();

    const BenchOptions& o;
    const DriverRun& d;
    const DriverRun::ProgramWindow &dr, &de, &ph; // the driver, the design floor, the physical floor
    const bool D, G, P, DG, DP;                    // which of them ran
    rig::Verdict& verdict;
};

#endif
