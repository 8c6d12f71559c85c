#ifndef SESSION_H
#define SESSION_H

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
    struct ParentLine {
        double time; // seconds since the epoch, as recorded
        QByteArray text;
    };

    bool load(const QString& path, QString* error);

    // The driver's board library talks to the simulator's port, and SPI is
    // the stand-in's loopback.
    static QProcessEnvironment driverEnvironment(const QByteArray& port);

    QStringList driverArgs;
    QList<ParentLine> parentLines;
};

#endif
