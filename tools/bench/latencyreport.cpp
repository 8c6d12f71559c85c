#include "latencyreport.h"

#include "rig/say.h"

#include <QString>
#include <algorithm>

using namespace rig;

namespace {

QString ms(double v, bool have)
{
    return have ? QString::number(v, 'f', 1) : QStringLiteral("-");
}

} // namespace

bool printLatencyReport(const std::vector<LatencyPattern>& patterns, const std::vector<const LatencyRun*>& runs)
{
    say("\naudio latency, parent -> shield: a numbered block's send to its arrival at the SPI peer, ms;\n"
        "settled: blocks due from %.0f s after the disturbance on (the burst in b, the start otherwise)\n",
        LatencyPattern::kSettleS);
    QString head = QString("  %1").arg("", -32);
    QString sub = QString("  %1").arg("pattern", -32);
    for (const LatencyRun* r : runs) {
        head += QString(" | %1").arg(r->label, -36);
        sub += QString(" | %1 %2 %3 %4 %5").arg("lost", 5).arg("p50", 6).arg("p99", 6).arg("set50", 7).arg("set99", 7);
    }
    say("%s\n%s\n", qPrintable(head), qPrintable(sub));
    for (size_t i = 0; i < patterns.size(); ++i) {
        const LatencyPattern& p = patterns[i];
        QString line = QString("  %1").arg(QString("%1 %2, %3 s").arg(p.id).arg(p.name).arg(p.seconds), -32);
        for (const LatencyRun* r : runs) {
            const bool have = r->ran && i < r->parent.size();
            const ParentDelay d = have ? r->parent[i] : ParentDelay();
            line += QString(" | %1 %2 %3 %4 %5")
                        .arg(have ? QString::number(d.lost) : "-", 5)
                        .arg(ms(d.all.p50, have && d.all.n), 6)
                        .arg(ms(d.all.p99, have && d.all.n), 6)
                        .arg(ms(d.settled.p50, have && d.settled.n), 7)
                        .arg(ms(d.settled.p99, have && d.settled.n), 7);
        }
        say("%s\n", qPrintable(line));
    }

    say("\naudio latency, shield -> parent: the peer's numbered answer to the kernel stamp of its datagram at\n"
        "UDP 20002, ms\n");
    say("  %-14s %8s %8s %6s %8s %8s %8s\n", "driver", "during", "answers", "lost", "p50", "p99", "max");
    for (const LatencyRun* r : runs) {
        const ShieldDelay& s = r->shield;
        if (!r->ran || !s.measured) {
            say("  %-14s %8s\n", qPrintable(r->label), "-");
            continue;
        }
        say("  %-14s %5c %2.0fs %8d %6d %8.3f %8.3f %8.3f\n", qPrintable(r->label), r->shieldPattern, s.seconds,
            s.answered, s.lost, s.p50, s.p99, s.max);
    }

    say("\nchecks of the latency runs\n");
    bool ok = true;
    for (const LatencyRun* r : runs) {
        if (!r->ran) {
            say("  %s: did not run\n", qPrintable(r->label));
            ok = false;
            continue;
        }
        int sent = 0, arrived = 0, order = 0, twice = 0, damaged = 0, refused = 0, errLines = 0;
        double late = 0;
        for (size_t i = 0; i < r->parent.size(); ++i) {
            const ParentDelay& d = r->parent[i];
            sent += d.sent;
            arrived += d.arrived;
            order += d.outOfOrder;
            twice += d.duplicated;
            damaged += d.damaged;
            refused += d.refused;
            late = std::max(late, d.senderLateMaxMs);
            errLines += r->stderrLines[i];
        }
        const ShieldDelay& s = r->shield;
        say("  %s: parent -> shield %d blocks sent, %d arrived, %d out of order, %d duplicated, %d damaged, "
            "%d sends refused; the bench sent at most %.2f ms late; shield -> parent %d out of order, %d duplicated, "
            "%d without a kernel stamp; %d stderr lines, %lld log datagrams\n",
            qPrintable(r->label), sent, arrived, order, twice, damaged, refused, late, s.outOfOrder, s.duplicated,
            s.unstamped, errLines, r->logDatagrams);
        ok = ok && order == 0 && twice == 0 && damaged == 0 && s.outOfOrder == 0 && s.duplicated == 0;
    }
    say("  every block in order, once and whole, both ways: %s\n", ok ? "yes" : "NO");
    return ok;
}
