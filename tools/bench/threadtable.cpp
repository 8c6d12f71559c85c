#include "threadtable.h"

#include "rig/say.h"

#include <algorithm>

using namespace rig;

namespace {

constexpr int kWidth = 30;

void sayLine(QString line)
{
    while (line.endsWith(' '))
        line.chop(1);
    say("%s\n", qPrintable(line));
}

} // namespace

void ThreadTable::add(const QString& title, qint64 pid, const ProcSample& a, const ProcSample& b)
{
    Column c;
    c.title = title;
    const double seconds = (b.atNs - a.atNs) / 1e9;
    if (seconds > 0) {
        for (auto it = b.threads.cbegin(); it != b.threads.cend(); ++it) {
            const qint64 before = a.threads.value(it.key(), {QString(), 0}).second;
            const QString name = it.key() == pid ? it.value().first + "(main)" : it.value().first;
            c.rows.push_back({name, (it.value().second - before) / 1e9 / seconds * 100.0});
            c.total += c.rows.back().percent;
        }
    }
    std::sort(c.rows.begin(), c.rows.end(), [](const Row& x, const Row& y) { return x.percent > y.percent; });
    columns.push_back(c);
}

void ThreadTable::print() const
{
    size_t rows = 0;
    QString line = "  ";
    for (const Column& c : columns) {
        rows = std::max(rows, c.rows.size());
        line += QString("%1").arg(c.title, -kWidth);
    }
    sayLine(line);
    auto cell = [](const QString& name, double percent) {
        return QString("%1 %2").arg(name.left(kWidth - 9), -(kWidth - 9)).arg(percent, 6, 'f', 3) + "  ";
    };
    for (size_t i = 0; i < rows; ++i) {
        line = "  ";
        for (const Column& c : columns)
            line += i < c.rows.size() ? cell(c.rows[i].name, c.rows[i].percent) : QString(kWidth, ' ');
        sayLine(line);
    }
    line = "  ";
    for (const Column& c : columns)
        line += cell("all threads", c.total);
    sayLine(line);
}
