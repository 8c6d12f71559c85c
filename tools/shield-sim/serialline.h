#ifndef SHIELD_SIM_SERIALLINE_H
#define SHIELD_SIM_SERIALLINE_H

// The shield's serial end: the master of a pseudo-terminal whose slave the
// driver opens, both sides raw at 115200. Knows bytes only, no frames.
//
// Bytes that nobody reads for about a second (no driver on the port) are
// flushed, so a driver started later does not get an old backlog.

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>

class QSocketNotifier;

class SerialLine : public QObject
{
public:
    // link: the --link path, or empty for none.
    explicit SerialLine(const QString& link, QObject* parent = nullptr);
    // Removes the link if it still points to this line.
    ~SerialLine() override;

    // Creates the pty (and the link); on failure says why in *error.
    bool open(QString* error);
    // The path to give the driver: the link if any, else the slave.
    QByteArray portPath() const;
    // Starts reading and the stale check; after open().
    void start();
    // Writes the bytes now. Best effort: the master does not block, and a
    // failed write is reported on standard error.
    void write(const QByteArray& bytes);

    // Every chunk read from the driver, as read.
    std::function<void(const QByteArray&)> onRead;

private:
    static bool makeRaw(int fd);
    void readAvailable();
    void dropStale();

    QString link;
    int masterFd = -1;
    int slaveFd = -1;
    QByteArray slaveName;
    QSocketNotifier* readNote = nullptr;
    QTimer staleTimer;
    int lastUnread = 0;
};

#endif
