#ifndef SESSION_H
#define SESSION_H

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// A recorded session: a saved driver log with the parent's console lines
// beside it, and the driver's arguments in a "# args:" comment.
class Session
{
public:
    struct ParentLine {
        qint64 atMs; // from the driver's first frame; negative before it
        QByteArray text;
    };

    bool load(const QString& path, QString* error);

    QStringList driverArgs;
    QList<ParentLine> parentLines;
};

#endif
