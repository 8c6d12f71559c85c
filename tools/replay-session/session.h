#ifndef SESSION_H
#define SESSION_H

#include "log/logline.h"

#include <QByteArray>
#include <QList>
#include <QProcessEnvironment>
#include <QStringList>

// A recorded session: a saved driver log with the parent's console lines
// beside it, and the driver's arguments in a "# args:" comment. The log
// itself is the simulator's to read.
class Session
{
public:
    // Refuses what is no session: a plain log, or a log saved live with
    // nothing of the parent's beside it.
    bool load(const QString& path, QString* error);
    // Removes the first parent line `text`; false when there is none.
    bool leaveOut(const QByteArray& text);

    // The driver's board library talks to the simulator's port, and SPI is
    // the stand-in's loopback.
    static QProcessEnvironment driverEnvironment(const QByteArray& port);

    QStringList driverArgs;
    QList<SavedLine> parentLines; // as saved: seconds since the epoch, "> LINE"
};

#endif
