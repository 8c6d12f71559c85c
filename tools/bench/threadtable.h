#ifndef THREADTABLE_H
#define THREADTABLE_H

// Each thread's time on a CPU (schedstat) over a window, for several
// processes side by side: one column a process, its busiest thread first.

#include "rig/procsample.h"

#include <QString>
#include <vector>

class ThreadTable
{
public:
    // pid names the main thread; a and b are the samples at the window's ends.
    void add(const QString& title, qint64 pid, const rig::ProcSample& a, const rig::ProcSample& b);
    void print() const;

private:
    struct Row {
        QString name;
        double percent;
    };
    struct Column {
        QString title;
        std::vector<Row> rows;
        double total = 0;
    };
    std::vector<Column> columns;
};

#endif
