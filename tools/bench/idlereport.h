#ifndef IDLEREPORT_H
#define IDLEREPORT_H

// The driver's and the reference's idle windows side by side, the checks of
// the measurement, the driver's latencies, and the targets they are held to.

#include "benchoptions.h"
#include "driverrun.h"
#include "rig/verdict.h"

class IdleReport
{
public:
    IdleReport(const BenchOptions& o, const DriverRun& d, const IdleWindow& ref)
        : o(o), d(d), dw(d.idle), ref(ref), D(dw.ran), R(ref.ran), both(D && R), B(dw.hasBeside()) {}

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
    const IdleWindow& dw;
    const IdleWindow& ref;
    const bool D, R, both, B;
    rig::Verdict verdict;
};

#endif
