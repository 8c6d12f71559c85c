#ifndef LOGSERVICE_H
#define LOGSERVICE_H

#include "log/logsenderinterface.h"
#include "utils/datatransmission.h"

#include <QObject>
#include <QStringList>
#include <QTimer>
#include <cstddef>

// Process-wide log: lines under switched-on sources are formatted in the
// caller's thread and leave one per timer tick as UDP datagrams.
class LogService : public QObject
{
    Q_OBJECT
public:
    explicit LogService(size_t ms);

    void debug(QString source, QByteArray massage);
    void debug(const QString& source, const char* format, ...)
        __attribute__((format(printf, 3, 4)));
    void error(QString source, QByteArray massage);
    void send(QByteArray massage);

    // Sends what is still queued, for at most timeoutMs; used at exit.
    void flush(int timeoutMs);

private:
    void sourceOn(QString source);
    bool sourceCheck(QString source);

private slots:
    virtual void slotTimeOut();

private:
    LogSenderInterface* logSender;
    QTimer* timer;
    DataTransmission writeBuffer;
    QStringList sourceList;
};

extern LogService* logService;

#endif
