#ifndef SESSION_H
#define SESSION_H

#include <QByteArray>
#include <QList>
#include <QStringList>

// A recorded session: a saved driver log with the parent's console lines
// beside it, and the driver's arguments in a "# args:" comment. The log
// itself is the simulator's to read.
class Session
{
public:
    struct ParentLine {
        double time; // seconds since the epoch, as recorded
        QByteArray text;
    };

    bool load(const QString& path, QString* error);

    QStringList driverArgs;
    QList<ParentLine> parentLines;
};

#endif
